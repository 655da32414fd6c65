// The annotated picture and the report written beside an inspected picture:
// the marks land where the result says, the report's files are complete and
// named after the picture, and the picture itself is never changed.
#include "annotated_image.h"
#include "inspection_report.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;
using namespace endface;

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
const cv::Point2d kCentre(320, 240);
constexpr double kUmPerPx = 0.5;
constexpr int kGrey = 128;

// A face at 0.5 um per pixel: zone radii of 25, 115, 135 and 250 pixels.
// One particle in zone B breaks its limit; one narrow scratch in zone B.
InspectionResult failing_result()
{
    InspectionResult result;
    result.overall = Verdict::Fail;
    result.criteria = single_mode_pc_criteria().name;
    result.fibre.centre_px = kCentre;
    result.fibre.cladding_radius_px = kCladdingDiameterUm / 2 / kUmPerPx;
    result.fibre.um_per_px = kUmPerPx;
    for (const ZoneCriteria &zone : single_mode_pc_criteria().zones)
        result.zones.push_back(zone.zone);

    Defect particle;
    particle.zone = 1;
    particle.centre_px = {320, 180};
    particle.diameter_um = 6.0;
    particle.bounding_box_px = cv::Rect(317, 177, 6, 6);
    result.defects.push_back(particle);

    Scratch scratch;
    scratch.zone = 1;
    scratch.polyline_px = {{250, 300}, {290, 300}};
    scratch.width_um = 2.0;
    scratch.length_um = 20.0;
    result.scratches.push_back(scratch);

    result.zone_verdicts = judge(single_mode_pc_criteria(), result.defects, result.scratches);
    return result;
}

cv::Mat grey_face()
{
    return cv::Mat(kHeight, kWidth, CV_8UC1, cv::Scalar(kGrey));
}

bool near_colour(const cv::Vec3b &pixel, const cv::Scalar &bgr, int tolerance = 60)
{
    for (int c = 0; c < 3; ++c)
        if (std::abs(pixel[c] - static_cast<int>(bgr[c])) > tolerance)
            return false;
    return true;
}

// True when some pixel within two pixels of (x, y) has the colour: lines
// are anti-aliased, so the exact pixel may be a blend.
bool colour_near(const cv::Mat &image, cv::Point at, const cv::Scalar &bgr)
{
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx) {
            const cv::Point p = at + cv::Point(dx, dy);
            if (p.inside(cv::Rect(0, 0, image.cols, image.rows)) && near_colour(image.at<cv::Vec3b>(p), bgr, 40))
                return true;
        }
    return false;
}

std::string file_bytes(const fs::path &path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// A folder of its own per test, removed afterwards.
class ReportFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = fs::temp_directory_path() / ("inspection_report_test-" + std::to_string(getpid()) + "-" +
                                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        picture_ = folder_ / "IMG_0007.jpg";
        ASSERT_TRUE(cv::imwrite(picture_.string(), grey_face()));
        picture_bytes_ = file_bytes(picture_);
        ASSERT_FALSE(picture_bytes_.empty());
    }
    void TearDown() override { fs::remove_all(folder_); }

    // Only the picture and what a test names may be in the folder: no
    // temporary file left behind.
    std::vector<std::string> names_in(const fs::path &folder) const
    {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path folder_;
    fs::path picture_;
    std::string picture_bytes_;
};

}  // namespace

TEST(AnnotatedImage, MarksEachZoneDefectScratchAndVerdict)
{
    const InspectionResult result = failing_result();
    const cv::Mat face = grey_face();
    const cv::Mat marked = annotate(face, result);
    ASSERT_EQ(marked.type(), CV_8UC3);
    ASSERT_EQ(marked.size(), face.size());

    // Each zone's circle crosses the horizontal through the centre at its radius.
    for (size_t i = 0; i < result.zones.size(); ++i) {
        const int radius = static_cast<int>(result.zones[i].outer_diameter_um / 2 / kUmPerPx);
        for (int side : {-1, 1}) {
            const cv::Point at(static_cast<int>(kCentre.x) + side * radius, static_cast<int>(kCentre.y));
            EXPECT_TRUE(colour_near(marked, at, zone_colour_bgr(static_cast<int>(i))))
                << "zone " << result.zones[i].name << " at x " << at.x;
        }
    }
    // The defect is ringed, not painted over.
    EXPECT_TRUE(colour_near(marked, {320 + 7, 180}, kDefectColourBgr));
    EXPECT_TRUE(colour_near(marked, {320 - 7, 180}, kDefectColourBgr));
    EXPECT_TRUE(near_colour(marked.at<cv::Vec3b>(180, 320), cv::Scalar(kGrey, kGrey, kGrey), 1));
    // The scratch (4 pixels wide) gets a line on each side, 4 pixels off its middle.
    EXPECT_TRUE(colour_near(marked, {270, 296}, kScratchColourBgr));
    EXPECT_TRUE(colour_near(marked, {270, 304}, kScratchColourBgr));
    EXPECT_TRUE(near_colour(marked.at<cv::Vec3b>(300, 270), cv::Scalar(kGrey, kGrey, kGrey), 1));
    // The verdict box in the top left corner.
    EXPECT_TRUE(near_colour(marked.at<cv::Vec3b>(6, 6), verdict_colour_bgr(Verdict::Fail), 1));
    // The face between the marks is left as it was, and so is the input.
    EXPECT_TRUE(near_colour(marked.at<cv::Vec3b>(240, 320), cv::Scalar(kGrey, kGrey, kGrey), 1));
    EXPECT_EQ(cv::countNonZero(face != kGrey), 0);
}

TEST(AnnotatedImage, AcceptsGreyColourAndAlphaPictures)
{
    const InspectionResult result = failing_result();
    cv::Mat colour(kHeight, kWidth, CV_8UC3, cv::Scalar(kGrey, kGrey, kGrey));
    cv::Mat alpha(kHeight, kWidth, CV_8UC4, cv::Scalar(kGrey, kGrey, kGrey, 255));
    for (const cv::Mat &picture : {grey_face(), colour, alpha}) {
        const cv::Mat marked = annotate(picture, result);
        EXPECT_EQ(marked.type(), CV_8UC3);
        EXPECT_TRUE(colour_near(marked, {320 + 115, 240}, zone_colour_bgr(1)));
    }
    EXPECT_TRUE(annotate(cv::Mat(), result).empty());
}

TEST(AnnotatedImage, WithoutAFibreOnlyTheVerdictAndItsReason)
{
    InspectionResult result;
    result.overall = Verdict::CannotInspect;
    result.cannot_inspect_reason = "no fibre in view";
    for (const ZoneCriteria &zone : single_mode_pc_criteria().zones)
        result.zones.push_back(zone.zone);
    const cv::Mat marked = annotate(grey_face(), result);
    EXPECT_TRUE(near_colour(marked.at<cv::Vec3b>(6, 6), verdict_colour_bgr(Verdict::CannotInspect), 1));
    // Below the corner boxes nothing is drawn.
    const cv::Mat lower = marked.rowRange(kHeight / 2, kHeight);
    EXPECT_EQ(cv::norm(lower, cv::Mat(lower.size(), lower.type(), cv::Scalar::all(kGrey)), cv::NORM_INF), 0.0);
}

TEST(AnnotatedImage, AbsurdScaleIsClippedNotOverflowed)
{
    InspectionResult result = failing_result();
    for (double scale : {1e-12, 1e12}) {
        result.fibre.um_per_px = scale;
        const cv::Mat marked = annotate(grey_face(), result);
        EXPECT_EQ(marked.size(), cv::Size(kWidth, kHeight));
    }
}

TEST(ReportPaths, NamedAfterThePicture)
{
    struct Case {
        const char *picture;
        const char *directory;
        const char *image;
        const char *page;
    };
    const Case cases[] = {
        {"shots/IMG_7.jpg", "", "shots/IMG_7.inspect.png", "shots/IMG_7.inspect.html"},
        {"shots/a.b.jpeg", "", "shots/a.b.inspect.png", "shots/a.b.inspect.html"},
        {"shots/IMG_7.jpg", "out", "out/IMG_7.inspect.png", "out/IMG_7.inspect.html"},
        {"IMG", "", "IMG.inspect.png", "IMG.inspect.html"},
        // A report of a report never lands on the report inspected.
        {"x/IMG.inspect.png", "", "x/IMG.inspect.inspect.png", "x/IMG.inspect.inspect.html"},
    };
    for (const Case &c : cases) {
        const ReportPaths paths = report_paths(c.picture, c.directory);
        EXPECT_EQ(paths.image, c.image) << c.picture;
        EXPECT_EQ(paths.page, c.page) << c.picture;
    }
}

TEST_F(ReportFolder, WrittenBesideThePictureWhichStaysByteIdentical)
{
    const InspectionResult result = failing_result();
    const cv::Mat marked = annotate(grey_face(), result);
    const ReportOutcome outcome = write_report(picture_.string(), result, marked);
    ASSERT_TRUE(outcome.written) << outcome.error;
    EXPECT_EQ(outcome.paths.image, (folder_ / "IMG_0007.inspect.png").string());
    EXPECT_EQ(outcome.paths.page, (folder_ / "IMG_0007.inspect.html").string());
    EXPECT_EQ(file_bytes(picture_), picture_bytes_);
    EXPECT_EQ(names_in(folder_),
              (std::vector<std::string>{"IMG_0007.inspect.html", "IMG_0007.inspect.png", "IMG_0007.jpg"}));

    const cv::Mat png = cv::imread(outcome.paths.image, cv::IMREAD_COLOR);
    ASSERT_EQ(png.size(), marked.size());
    EXPECT_EQ(cv::norm(png, marked, cv::NORM_INF), 0.0) << "PNG is lossless";

    const std::string page = file_bytes(outcome.paths.page);
    for (const char *part : {"IMG_0007.jpg", "<img src=\"IMG_0007.inspect.png\"", "<td>B</td><td>cladding</td>",
                             "1 defects &gt; 5 um, at most 0 allowed", "<td>particle</td>", "<td>6.0</td>",
                             "class=\"verdict fail\"", "0.500 &micro;m per pixel"})
        EXPECT_NE(page.find(part), std::string::npos) << part;

    // Inspecting again replaces the report and still leaves the picture alone.
    const ReportOutcome again = write_report(picture_.string(), result, marked);
    EXPECT_TRUE(again.written) << again.error;
    EXPECT_EQ(file_bytes(picture_), picture_bytes_);
    EXPECT_EQ(names_in(folder_).size(), 3u);
}

TEST_F(ReportFolder, IntoAFolderThatIsCreated)
{
    const InspectionResult result = failing_result();
    const fs::path reports = folder_ / "reports" / "today";
    const ReportOutcome outcome = write_report(picture_.string(), result, annotate(grey_face(), result), reports);
    ASSERT_TRUE(outcome.written) << outcome.error;
    EXPECT_EQ(names_in(reports), (std::vector<std::string>{"IMG_0007.inspect.html", "IMG_0007.inspect.png"}));
    EXPECT_EQ(names_in(folder_), (std::vector<std::string>{"IMG_0007.jpg", "reports"}));
}

TEST_F(ReportFolder, FailuresSayWhyAndLeaveThePictureAndNoPartialFile)
{
    const InspectionResult result = failing_result();
    const cv::Mat marked = annotate(grey_face(), result);
    struct Case {
        const char *name;
        void (*prepare)(const fs::path &folder, const fs::path &picture);
        const char *directory;  // relative to the folder; empty: beside the picture
        const char *error_part;
    };
    const Case cases[] = {
        // Root ignores permissions, so the obstacles are things in the way.
        {"report name taken by a folder",
         [](const fs::path &folder, const fs::path &) { fs::create_directory(folder / "IMG_0007.inspect.png"); }, "",
         "IMG_0007.inspect.png"},
        {"report folder under a file",
         [](const fs::path &folder, const fs::path &) { std::ofstream(folder / "plain").put('x'); }, "plain/reports",
         "cannot create"},
        {"report name links to the picture",
         [](const fs::path &folder, const fs::path &picture) {
             fs::create_symlink(picture.filename(), folder / "IMG_0007.inspect.png");
         },
         "", "is the picture itself"},
        {"page name is a hard link of the picture",
         [](const fs::path &folder, const fs::path &picture) {
             fs::create_hard_link(picture, folder / "IMG_0007.inspect.html");
         },
         "", "is the picture itself"},
        {"picture gone", [](const fs::path &, const fs::path &picture) { fs::remove(picture); }, "", "no picture at"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        c.prepare(folder_, picture_);
        const std::vector<std::string> before = names_in(folder_);
        const std::string directory = *c.directory ? (folder_ / c.directory).string() : std::string();
        const ReportOutcome outcome = write_report(picture_.string(), result, marked, directory);
        EXPECT_FALSE(outcome.written);
        EXPECT_NE(outcome.error.find(c.error_part), std::string::npos) << outcome.error;
        if (fs::exists(picture_)) {
            EXPECT_EQ(file_bytes(picture_), picture_bytes_);
        }
        EXPECT_EQ(names_in(folder_), before);
    }
}

TEST(ReportPage, EscapesWhatComesFromFileNamesAndResults)
{
    InspectionResult result;
    result.overall = Verdict::CannotInspect;
    result.cannot_inspect_reason = "<script>alert(1)</script>";
    const std::string page = report_page("<b>&\".jpg", "", result);
    EXPECT_EQ(page.find("<b>"), std::string::npos);
    EXPECT_EQ(page.find("<script>"), std::string::npos);
    EXPECT_NE(page.find("&lt;b&gt;&amp;&quot;.jpg"), std::string::npos);
    EXPECT_NE(page.find("&lt;script&gt;"), std::string::npos);
    EXPECT_EQ(page.find("<img"), std::string::npos);

    // The picture's link is a URL: a "#" would end it, a blank break it.
    const std::string linked = report_page("a b#1.jpg", "a b#1.inspect.png", result);
    EXPECT_NE(linked.find("<img src=\"a%20b%231.inspect.png\""), std::string::npos) << linked;
    EXPECT_NE(linked.find("<title>End-face inspection: a b#1.jpg</title>"), std::string::npos);
}

TEST(TextSummary, ZoneTableDefectsScratchesAndVerdict)
{
    const std::string text = text_summary(failing_result());
    for (const char *line : {"0.500 um/px (measured)", "criteria: single-mode PC",
                             "B     cladding     25 to 115        1          1  fail: 1 defects > 5 um",
                             "A     core          0 to 25         0          0  pass", "particle      zone B",
                             "zone B       width 2.0 um  length 20.0 um", "\nverdict: fail\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;

    InspectionResult unjudged;
    unjudged.cannot_inspect_reason = "the picture is black";
    EXPECT_EQ(text_summary(unjudged), "verdict: cannot inspect: the picture is black\n");
}
