// endface-eval: runs the end-face inspection over a set written by
// `qrn-probe-sim end-face-set` and compares it with the truth beside each
// picture.
#include "endface_analysis.h"

#include "set_scores.h"

#include <nlohmann/json.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr const char *kUsage =
    "usage: endface-eval SETDIR [--check] [--list]\n"
    "\n"
    "  SETDIR   pictures NNNN.jpg with their truth NNNN.json\n"
    "  --check  exit 1 unless image-level agreement is at least 97 % and every\n"
    "           defect of 3 um or more in zones A and B is found\n"
    "  --list   name every picture whose verdict differs from the truth\n";

bool load_truth(const std::filesystem::path &path, nlohmann::json &truth)
{
    std::ifstream file(path);
    if (!file)
        return false;
    truth = nlohmann::json::parse(file, nullptr, false);
    return !truth.is_discarded() && truth.is_object();
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
        std::cerr << kUsage;
        return argc < 2 ? EXIT_FAILURE : EXIT_SUCCESS;
    }
    bool check = false;
    bool list = false;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--check") == 0)
            check = true;
        else if (std::strcmp(argv[i], "--list") == 0)
            list = true;
        else {
            std::cerr << "endface-eval: unknown option " << argv[i] << "\n" << kUsage;
            return EXIT_FAILURE;
        }
    }
    const std::filesystem::path dir = argv[1];
    std::vector<std::filesystem::path> truths;
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(dir, error))
        if (entry.path().extension() == ".json")
            truths.push_back(entry.path());
    if (error || truths.empty()) {
        std::cerr << "endface-eval: no truth files in " << dir << "\n";
        return EXIT_FAILURE;
    }
    std::sort(truths.begin(), truths.end());

    // One core, as the live overlay gets.
    cv::setNumThreads(1);
    evaluation::SetScores scores;
    for (const auto &truth_path : truths) {
        nlohmann::json truth;
        std::filesystem::path picture_path = truth_path;
        picture_path.replace_extension(".jpg");
        const cv::Mat picture = cv::imread(picture_path.string(), cv::IMREAD_UNCHANGED);
        if (!load_truth(truth_path, truth) || picture.empty()) {
            std::cerr << "endface-eval: cannot read " << truth_path << " or its picture\n";
            return EXIT_FAILURE;
        }
        const auto start = std::chrono::steady_clock::now();
        const std::clock_t cpu_start = std::clock();
        const endface::InspectionResult result = endface::inspect(picture);
        const double cpu_ms = 1000.0 * static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        const std::string note = scores.add(truth, result, picture.cols, picture.rows, ms, cpu_ms);
        if (list && !note.empty())
            std::cout << picture_path.filename().string() << ": " << note << "\n";
    }
    scores.print(std::cout);
    if (check && !scores.targets_met()) {
        std::cout << "targets not met\n";
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}
