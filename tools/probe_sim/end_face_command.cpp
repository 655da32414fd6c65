#include "end_face_command.h"

#include "end_face_sample.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace probesim {

namespace {

constexpr int kMaxSide = 8192;
constexpr uint32_t kMaxCount = 100000;

struct Arguments {
    std::string target;
    uint32_t seed = 1;
    uint32_t count = 300;
    int width = 1280;
    int height = 960;
    bool clean = false;
    std::vector<FlawRequest> flaws;
    std::vector<ScratchRequest> scratches;
};

std::optional<double> parse_number(const std::string &text)
{
    char *end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value > 0.0) || value > 1000.0)
        return std::nullopt;
    return value;
}

std::optional<uint32_t> parse_unsigned(const std::string &text, uint32_t limit)
{
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const unsigned long long value = std::stoull(text);
    if (value > limit)
        return std::nullopt;
    return static_cast<uint32_t>(value);
}

std::vector<std::string> split(const std::string &text)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t colon; (colon = text.find(':', start)) != std::string::npos; start = colon + 1)
        parts.push_back(text.substr(start, colon - start));
    parts.push_back(text.substr(start));
    return parts;
}

bool parse_zone(const std::string &text, char &zone)
{
    if (text.size() != 1 || text[0] < 'A' || text[0] > 'D')
        return false;
    zone = text[0];
    return true;
}

bool parse_flaw(const std::string &text, FlawRequest &flaw)
{
    const std::vector<std::string> parts = split(text);
    if (parts.size() != 3)
        return false;
    const FlawKind kinds[] = {FlawKind::Particle, FlawKind::Pit, FlawKind::Chip, FlawKind::Contamination};
    bool known = false;
    for (FlawKind kind : kinds)
        if (parts[0] == flaw_kind_name(kind)) {
            flaw.kind = kind;
            known = true;
        }
    const auto diameter = parse_number(parts[1]);
    if (!known || !diameter || !parse_zone(parts[2], flaw.zone))
        return false;
    flaw.diameter_um = *diameter;
    return true;
}

bool parse_scratch(const std::string &text, ScratchRequest &scratch)
{
    const std::vector<std::string> parts = split(text);
    if (parts.size() != 3)
        return false;
    const auto width = parse_number(parts[0]);
    const auto length = parse_number(parts[1]);
    if (!width || !length || !parse_zone(parts[2], scratch.zone))
        return false;
    scratch.width_um = *width;
    scratch.length_um = *length;
    return true;
}

bool parse_size(const std::string &text, int &width, int &height)
{
    const auto x = text.find('x');
    if (x == std::string::npos)
        return false;
    const auto w = parse_unsigned(text.substr(0, x), kMaxSide);
    const auto h = parse_unsigned(text.substr(x + 1), kMaxSide);
    if (!w || !h || *w < 2 || *h < 2)
        return false;
    width = static_cast<int>(*w);
    height = static_cast<int>(*h);
    return true;
}

std::optional<Arguments> parse(int argc, char **argv, std::string &error)
{
    Arguments args;
    if (argc < 3 || argv[2][0] == '-') {
        error = std::string(argv[1]) + " needs an output path";
        return std::nullopt;
    }
    args.target = argv[2];
    for (int i = 3; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--clean") {
            args.clean = true;
            continue;
        }
        if (i + 1 >= argc) {
            error = option + " needs a value";
            return std::nullopt;
        }
        const std::string value = argv[++i];
        bool ok = false;
        if (option == "--seed") {
            const auto seed = parse_unsigned(value, 0xFFFFFFFFu);
            ok = seed.has_value();
            args.seed = seed.value_or(0);
        } else if (option == "--count") {
            const auto count = parse_unsigned(value, kMaxCount);
            ok = count && *count > 0;
            args.count = count.value_or(0);
        } else if (option == "--size") {
            ok = parse_size(value, args.width, args.height);
        } else if (option == "--defect") {
            args.flaws.emplace_back();
            ok = parse_flaw(value, args.flaws.back());
        } else if (option == "--scratch") {
            args.scratches.emplace_back();
            ok = parse_scratch(value, args.scratches.back());
        } else {
            error = "unknown option " + option;
            return std::nullopt;
        }
        if (!ok) {
            error = "bad value for " + option + ": " + value;
            return std::nullopt;
        }
    }
    return args;
}

std::string truth_path_for(const std::string &jpeg_path)
{
    std::filesystem::path path(jpeg_path);
    return path.replace_extension(".json").string();
}

int write_one(const Arguments &args)
{
    std::mt19937 rng(args.seed);
    EndFaceSample sample = random_clean_sample(args.width, args.height, rng);
    if (args.clean) {
        sample.camera = CameraLook();
        sample.camera.blur_sigma_px = 0.0;
        sample.camera.noise_sigma = 0.0;
        sample.camera.jpeg_quality = 95;
    }
    for (const FlawRequest &flaw : args.flaws)
        if (!add_flaw(sample, flaw, rng)) {
            std::cerr << "qrn-probe-sim: no room for a " << flaw_kind_name(flaw.kind) << " in zone " << flaw.zone
                      << "\n";
            return EXIT_FAILURE;
        }
    for (const ScratchRequest &scratch : args.scratches)
        if (!add_scratch(sample, scratch, rng)) {
            std::cerr << "qrn-probe-sim: no room for a scratch in zone " << scratch.zone << "\n";
            return EXIT_FAILURE;
        }
    if (!write_sample(sample, args.target, truth_path_for(args.target))) {
        std::cerr << "qrn-probe-sim: cannot write " << args.target << "\n";
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}

int write_set(const Arguments &args)
{
    std::error_code error;
    std::filesystem::create_directories(args.target, error);
    if (error) {
        std::cerr << "qrn-probe-sim: cannot create " << args.target << ": " << error.message() << "\n";
        return EXIT_FAILURE;
    }
    for (uint32_t index = 0; index < args.count; ++index) {
        char name[32];
        std::snprintf(name, sizeof name, "%04u", index);
        const std::string base = (std::filesystem::path(args.target) / name).string();
        if (!write_sample(evaluation_sample(args.width, args.height, args.seed, index), base + ".jpg",
                          base + ".json")) {
            std::cerr << "qrn-probe-sim: cannot write " << base << ".jpg\n";
            return EXIT_FAILURE;
        }
    }
    return EXIT_SUCCESS;
}

}  // namespace

bool is_end_face_command(int argc, char **argv)
{
    return argc > 1 && (std::strcmp(argv[1], "end-face") == 0 || std::strcmp(argv[1], "end-face-set") == 0);
}

int run_end_face_command(int argc, char **argv)
{
    std::string error;
    const std::optional<Arguments> args = parse(argc, argv, error);
    if (!args) {
        std::cerr << "qrn-probe-sim: " << error << "\n" << kEndFaceUsage;
        return EXIT_FAILURE;
    }
    return std::strcmp(argv[1], "end-face") == 0 ? write_one(*args) : write_set(*args);
}

}  // namespace probesim
