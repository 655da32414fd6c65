// The inspection on rendered end faces: the fibre and its scale where the
// simulator drew them, verdicts on clean and dirty faces, and pictures that
// must never pass.
#include "end_face_sample.h"
#include "endface_analysis.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 960;

struct Face {
    probesim::EndFaceSample sample;
    cv::Mat picture;
};

// A face with a typical camera: some blur and noise, light even unless asked.
probesim::EndFaceSample typical_face(double um_per_px, double dx, double dy, uint32_t seed)
{
    std::mt19937 rng(seed);
    probesim::EndFaceSample sample = probesim::random_clean_sample(kWidth, kHeight, rng);
    sample.scene.um_per_px = um_per_px;
    sample.scene.centre_x = kWidth / 2.0 + dx;
    sample.scene.centre_y = kHeight / 2.0 + dy;
    sample.camera = probesim::CameraLook();
    sample.camera.blur_sigma_px = 1.0;
    sample.camera.noise_sigma = 3.0;
    sample.camera.jpeg_quality = 85;
    return sample;
}

cv::Mat film(const probesim::EndFaceSample &sample)
{
    const cv::Mat grey = probesim::film(probesim::render_scene(sample.scene), sample.scene.width, sample.scene.height,
                                        sample.camera, sample.noise_seed);
    return cv::imdecode(probesim::encode_grey_jpeg(grey, sample.camera.jpeg_quality), cv::IMREAD_UNCHANGED);
}

struct Placement {
    const char *name;
    double um_per_px;
    double dx, dy;
    double light_gradient;  // share of light lost towards one side
    double light_angle;
};

class FibreLocation : public testing::TestWithParam<Placement> {};

TEST_P(FibreLocation, FindsCentreAndScale)
{
    const Placement &p = GetParam();
    probesim::EndFaceSample sample = typical_face(p.um_per_px, p.dx, p.dy, 11);
    sample.camera.light_gradient = p.light_gradient;
    sample.camera.light_angle = p.light_angle;
    const endface::InspectionResult result = endface::inspect(film(sample));
    ASSERT_NE(result.overall, endface::Verdict::CannotInspect) << result.cannot_inspect_reason;
    // The scene puts a pixel's centre at x + 0.5, the result at whole numbers.
    EXPECT_NEAR(result.fibre.centre_px.x, sample.scene.centre_x - 0.5, 0.25);
    EXPECT_NEAR(result.fibre.centre_px.y, sample.scene.centre_y - 0.5, 0.25);
    EXPECT_NEAR(result.fibre.um_per_px, p.um_per_px, 0.01 * p.um_per_px);
    EXPECT_EQ(result.fibre.scale_source, endface::ScaleSource::Measured);
    EXPECT_EQ(result.overall, endface::Verdict::Pass);
}

const Placement kPlacements[] = {
    {"centred", 0.4, 0, 0, 0.0, 0.0},
    {"decentred_far", 0.45, 260, -200, 0.0, 0.0},
    {"decentred_fine_scale", 0.3, -180, 120, 0.0, 0.0},
    {"dark_left_half", 0.4, 60, 40, 0.9, 0.0},
    {"dark_lower_corner", 0.35, -150, -100, 0.8, -2.4},
    {"coarse_scale_dim_side", 0.5, 300, 150, 0.7, 1.2},
};
INSTANTIATE_TEST_SUITE_P(Pictures, FibreLocation, testing::ValuesIn(kPlacements),
                         [](const testing::TestParamInfo<Placement> &info) { return std::string(info.param.name); });

TEST(Inspection, GivenScaleIsUsedAsGiven)
{
    const probesim::EndFaceSample sample = typical_face(0.4, 40, -30, 3);
    endface::InspectionOptions options;
    options.um_per_px = 0.41;
    const endface::InspectionResult result = endface::inspect(film(sample), options);
    ASSERT_EQ(result.overall, endface::Verdict::Pass) << result.cannot_inspect_reason;
    EXPECT_EQ(result.fibre.scale_source, endface::ScaleSource::Given);
    EXPECT_DOUBLE_EQ(result.fibre.um_per_px, 0.41);
}

TEST(Inspection, CleanFacePassesAndSixMicronParticleOnCladdingFails)
{
    probesim::EndFaceSample sample = typical_face(0.4, -70, 50, 5);
    const endface::InspectionResult clean = endface::inspect(film(sample));
    EXPECT_EQ(clean.overall, endface::Verdict::Pass) << clean.cannot_inspect_reason;
    EXPECT_TRUE(clean.defects.empty());
    EXPECT_TRUE(clean.scratches.empty());
    ASSERT_EQ(clean.zone_verdicts.size(), 4u);

    std::mt19937 rng(5);
    ASSERT_TRUE(probesim::add_flaw(sample, {probesim::FlawKind::Particle, 6.0, 'B'}, rng));
    const probesim::SceneFlaw &flaw = sample.scene.flaws.back();
    const endface::InspectionResult dirty = endface::inspect(film(sample));
    ASSERT_EQ(dirty.overall, endface::Verdict::Fail);
    ASSERT_EQ(dirty.defects.size(), 1u);
    const endface::Defect &defect = dirty.defects.front();
    EXPECT_EQ(dirty.zones[defect.zone].name, "B");
    EXPECT_NEAR(defect.diameter_um, 6.0, 0.5);
    EXPECT_NEAR(defect.centre_px.x, flaw.x - 0.5, 1.5);
    EXPECT_NEAR(defect.centre_px.y, flaw.y - 0.5, 1.5);
    EXPECT_TRUE(defect.bounding_box_px.contains(cv::Point(static_cast<int>(flaw.x), static_cast<int>(flaw.y))));
    EXPECT_GE(defect.outline_px.size(), 4u);
    EXPECT_EQ(dirty.zone_verdicts[1].verdict, endface::Verdict::Fail);
    EXPECT_EQ(dirty.zone_verdicts[0].verdict, endface::Verdict::Pass);
}

TEST(Inspection, WideScratchOnCladdingFailsNarrowOnePasses)
{
    for (const double width : {2.0, 4.5}) {
        probesim::EndFaceSample sample = typical_face(0.4, 30, 20, 9);
        std::mt19937 rng(9);
        ASSERT_TRUE(probesim::add_scratch(sample, {width, 30.0, 'B'}, rng));
        const endface::InspectionResult result = endface::inspect(film(sample));
        ASSERT_EQ(result.scratches.size(), 1u) << width;
        EXPECT_NEAR(result.scratches.front().width_um, width, 0.4);
        EXPECT_NEAR(result.scratches.front().length_um, 30.0, 3.0);
        EXPECT_EQ(result.overall, width > 3.0 ? endface::Verdict::Fail : endface::Verdict::Pass) << width;
    }
}

// Pictures no inspection can judge: each must say why and never pass.
struct BadPicture {
    const char *name;
    cv::Mat (*make)();
};

cv::Mat filmed(void (*change)(probesim::EndFaceSample &))
{
    probesim::EndFaceSample sample = typical_face(0.4, 0, 0, 21);
    change(sample);
    return film(sample);
}

const BadPicture kBadPictures[] = {
    {"empty", [] { return cv::Mat(); }},
    {"tiny", [] { return cv::Mat(120, 100, CV_8UC1, cv::Scalar(120)); }},
    {"huge", [] { return cv::Mat(9000, 200, CV_8UC1, cv::Scalar(120)); }},
    {"float_pixels", [] { return cv::Mat(960, 1280, CV_32FC1, cv::Scalar(0.5)); }},
    {"black", [] { return filmed([](probesim::EndFaceSample &s) { s.camera.exposure = 0.03; }); }},
    {"white", [] { return filmed([](probesim::EndFaceSample &s) { s.camera.exposure = 6.0; }); }},
    {"saturated_glass", [] { return filmed([](probesim::EndFaceSample &s) { s.camera.exposure = 1.8; }); }},
    {"no_fibre", [] { return filmed([](probesim::EndFaceSample &s) { s.scene.fibre = false; }); }},
    // A clean face, but 2 um defects would be under two pixels.
    {"too_coarse", [] { return filmed([](probesim::EndFaceSample &s) { s.scene.um_per_px = 1.6; }); }},
    {"fibre_partly_out",
     [] {
         return filmed([](probesim::EndFaceSample &s) { s.scene.centre_x = kWidth - 0.5 * 62.5 / s.scene.um_per_px; });
     }},
    {"grey_noise",
     [] {
         cv::Mat noise(960, 1280, CV_8UC1);
         cv::randu(noise, 60, 200);
         return noise;
     }},
};

class BadInput : public testing::TestWithParam<BadPicture> {};

TEST_P(BadInput, CannotInspectWithReason)
{
    const endface::InspectionResult result = endface::inspect(GetParam().make());
    EXPECT_EQ(result.overall, endface::Verdict::CannotInspect);
    EXPECT_FALSE(result.cannot_inspect_reason.empty());
    EXPECT_TRUE(result.zone_verdicts.empty());
}

INSTANTIATE_TEST_SUITE_P(Pictures, BadInput, testing::ValuesIn(kBadPictures),
                         [](const testing::TestParamInfo<BadPicture> &info) { return std::string(info.param.name); });

class BadFile : public testing::Test {
protected:
    void SetUp() override
    {
        dir_ = std::filesystem::temp_directory_path() /
               ("endface_bad_file_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                std::to_string(reinterpret_cast<uintptr_t>(this)));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string write(const std::string &name, const std::vector<uint8_t> &bytes)
    {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    std::filesystem::path dir_;
};

TEST_F(BadFile, CannotInspectWithReason)
{
    const std::vector<uint8_t> good = probesim::encode_grey_jpeg(film(typical_face(0.4, 0, 0, 2)), 90);
    ASSERT_EQ(endface::inspect_file(write("good.jpg", good)).overall, endface::Verdict::Pass);

    std::vector<uint8_t> truncated(good.begin(), good.begin() + static_cast<long>(good.size() / 2));
    std::vector<uint8_t> garbage(5000);
    std::mt19937 rng(1);
    for (uint8_t &b : garbage)
        b = static_cast<uint8_t>(rng());
    // A PNG header that claims a 100000 x 100000 picture over a few bytes.
    std::vector<uint8_t> bomb = {0x89, 'P',  'N',  'G',  0x0D, 0x0A, 0x1A, 0x0A, 0,    0, 0, 13, 'I', 'H', 'D',
                                 'R',  0x00, 0x01, 0x86, 0xA0, 0x00, 0x01, 0x86, 0xA0, 8, 0, 0,  0,   0};
    std::vector<uint8_t> mangled = good;
    for (size_t i = 200; i < mangled.size() - 2; i += 7)
        mangled[i] = static_cast<uint8_t>(rng());
    const struct {
        const char *name;
        std::string path;
    } files[] = {
        {"missing", (dir_ / "missing.jpg").string()},
        {"empty", write("empty.jpg", {})},
        {"garbage", write("garbage.jpg", garbage)},
        {"truncated", write("truncated.jpg", truncated)},
        {"bomb", write("bomb.png", bomb)},
        {"mangled", write("mangled.jpg", mangled)},
    };
    for (const auto &file : files) {
        const endface::InspectionResult result = endface::inspect_file(file.path);
        EXPECT_NE(result.overall, endface::Verdict::Pass) << file.name;
        if (std::string(file.name) != "mangled") {
            EXPECT_EQ(result.overall, endface::Verdict::CannotInspect) << file.name;
            EXPECT_FALSE(result.cannot_inspect_reason.empty()) << file.name;
        }
    }
}

}  // namespace
