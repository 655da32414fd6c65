// qrn: reads, pictures and provisions probe modules from the command line.
#include "commands.h"
#include "failures.h"

#include <algorithm>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "qrn_net.h"

namespace {

const std::vector<const qrn::Command *> &all_commands()
{
    static const std::vector<const qrn::Command *> commands = {&qrn::scan_command(),        &qrn::info_command(),
                                                               &qrn::snapshot_command(),    &qrn::stream_command(),
                                                               &qrn::smartconfig_command(), &qrn::inspect_command()};
    return commands;
}

void print_overview(std::ostream &out)
{
    out << "usage: qrn COMMAND [ARGUMENTS]\n\ncommands:\n";
    for (const qrn::Command *command : all_commands()) {
        std::string name = command->name;
        name.resize(13, ' ');
        out << "  " << name << command->summary << "\n";
    }
    out << "\n'qrn COMMAND --help' describes a command. With --verbose, any command also\n"
           "shows the library's trace lines, which are otherwise kept off its output.\n";
}

const qrn::Command *find_command(const std::string &name)
{
    for (const qrn::Command *command : all_commands())
        if (name == command->name)
            return command;
    return nullptr;
}

// Removes --verbose (before any "--") and says whether it was there: the
// library traces only when asked, so the tool's own output stays clean.
bool take_verbose(std::vector<std::string> *words)
{
    const auto end = std::find(words->begin(), words->end(), "--");
    const auto found = std::find(words->begin(), end, "--verbose");
    if (found == end)
        return false;
    words->erase(found);
    return true;
}

int run(const qrn::Command &command, std::vector<std::string> words)
{
    QRN_NET_SetTrace(take_verbose(&words) ? 1 : 0);
    const std::string prefix = std::string("qrn ") + command.name + ": ";
    if (qrn::asks_for_help(words)) {
        std::cout << command.usage;
        return qrn::kExitSuccess;
    }
    try {
        return command.run(qrn::Arguments::parse(words, command.options));
    } catch (const qrn::UsageError &error) {
        std::cerr << prefix << error.what() << "\nTry 'qrn " << command.name << " --help'.\n";
        return qrn::kExitUsage;
    } catch (const std::exception &error) {
        std::cerr << prefix << error.what() << "\n";
        return qrn::kExitFailure;
    }
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        print_overview(std::cerr);
        return qrn::kExitUsage;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "help") {
        print_overview(std::cout);
        return qrn::kExitSuccess;
    }
    const qrn::Command *command = find_command(name);
    if (!command) {
        std::cerr << "qrn: unknown command '" << name << "'\n";
        print_overview(std::cerr);
        return qrn::kExitUsage;
    }
    return run(*command, std::vector<std::string>(argv + 2, argv + argc));
}
