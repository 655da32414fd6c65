// qrn inspect: judges a stored end-face picture against the connector
// criteria, for scripts and production lines: the exit code is the verdict.
#include "annotated_image.h"
#include "commands.h"
#include "endface_analysis.h"
#include "failures.h"
#include "inspection_report.h"

#include <opencv2/imgcodecs.hpp>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <string>

namespace qrn {

namespace {

constexpr int kExitFail = 3;           // the connector fails the criteria
constexpr int kExitCannotInspect = 4;  // the picture allows no judgement

// A probe's scale lies near 0.4 um per pixel; this range leaves room for
// any optics while refusing typing slips such as 40.
constexpr double kSmallestScale = 0.01;
constexpr double kLargestScale = 10.0;

const std::string kUsage = std::string(
                               "usage: qrn inspect FILE.jpg [--report DIR] [--scale UM_PER_PIXEL]\n"
                               "\n"
                               "Finds the fibre in a stored end-face picture, its zones, defects and\n"
                               "scratches, and judges them by the single-mode PC connector criteria.\n"
                               "Prints the zone table and the verdict. The scale comes from the\n"
                               "125 um cladding unless --scale gives it.\n"
                               "\n"
                               "  FILE.jpg           the picture (JPEG, PNG or BMP); only read\n"
                               "  --report DIR       also write FILE.inspect.png (the annotated picture)\n"
                               "                     and FILE.inspect.html into DIR (created if missing)\n"
                               "  --scale UM_PER_PIXEL\n"
                               "                     the probe's known scale, from 0.01 to 10\n") +
                           kHelpOptionHelp +
                           "\n"
                           "Exit codes: 0 pass, 3 fail, 4 cannot inspect (no fibre in view, a\n"
                           "black or saturated picture, an unreadable file, ...), 2 bad command\n"
                           "line, 1 the report could not be written.\n";

double parse_scale(const std::string &text)
{
    const std::string expected = "--scale expects micrometres per pixel from 0.01 to 10";
    char *end = nullptr;
    errno = 0;
    const double scale = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(scale) ||
        scale < kSmallestScale || scale > kLargestScale)
        throw UsageError(expected + ", got '" + text + "'");
    return scale;
}

int exit_code(endface::Verdict verdict)
{
    switch (verdict) {
    case endface::Verdict::Pass:
        return kExitSuccess;
    case endface::Verdict::Fail:
        return kExitFail;
    case endface::Verdict::CannotInspect:
        break;
    }
    return kExitCannotInspect;
}

int run(const Arguments &arguments)
{
    arguments.expect_operands(1, 1);
    const std::string path = arguments.operands()[0];
    if (path.empty())
        throw UsageError("the file name is empty");
    const auto report_directory = arguments.value("--report");
    if (report_directory && report_directory->empty())
        throw UsageError("the report directory is empty");
    endface::InspectionOptions options;
    if (const auto scale = arguments.value("--scale"))
        options.um_per_px = parse_scale(*scale);

    const endface::InspectionResult result = endface::inspect_file(path, options);
    std::cout << endface::text_summary(result);
    if (result.overall == endface::Verdict::CannotInspect)
        std::cerr << "qrn inspect: cannot inspect: " << result.cannot_inspect_reason << "\n";

    if (report_directory) {
        // Only a picture the inspection could measure is decoded again: one
        // it refused may be a corrupt file or a decompression bomb.
        cv::Mat annotated;
        if (result.fibre.um_per_px > 0.0)
            annotated = endface::annotate(cv::imread(path, cv::IMREAD_COLOR), result);
        const endface::ReportOutcome report = endface::write_report(path, result, annotated, *report_directory);
        if (!report.written)
            throw CommandFailure("cannot write the report: " + report.error);
        if (!annotated.empty())
            std::cout << "report: " << report.paths.image << "\n";
        std::cout << "report: " << report.paths.page << "\n";
    }
    return exit_code(result.overall);
}

}  // namespace

const Command &inspect_command()
{
    static const Command command{"inspect",
                                 "judges an end-face picture: zone table, verdict, report",
                                 kUsage,
                                 {{"--report", true}, {"--scale", true}},
                                 run};
    return command;
}

}  // namespace qrn
