// The single-mode PC table applied to found defects and scratches: each zone
// just inside and just outside each of its limits.
#include "endface_analysis.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Case {
    const char *name;
    char zone;
    std::vector<double> defects_um;
    std::vector<double> scratches_um;
    endface::Verdict expected;
};

int zone_index(char zone)
{
    return zone - 'A';
}

std::vector<double> many(int count, double size)
{
    return std::vector<double>(count, size);
}

using endface::Verdict;

const Case kCases[] = {
    {"A_clean", 'A', {}, {}, Verdict::Pass},
    {"A_any_defect", 'A', {0.3}, {}, Verdict::Fail},
    {"A_any_scratch", 'A', {}, {0.3}, Verdict::Fail},
    {"B_defect_at_5", 'B', {5.0}, {}, Verdict::Pass},
    {"B_defect_over_5", 'B', {5.01}, {}, Verdict::Fail},
    {"B_five_from_2_to_5", 'B', many(5, 2.0), {}, Verdict::Pass},
    {"B_six_from_2_to_5", 'B', many(6, 2.0), {}, Verdict::Fail},
    {"B_five_at_5_and_small_ones", 'B', {5.0, 5.0, 5.0, 5.0, 5.0, 1.99, 1.99, 1.99}, {}, Verdict::Pass},
    {"B_below_2_unlimited", 'B', many(40, 1.99), {}, Verdict::Pass},
    {"B_scratch_at_3", 'B', {}, {3.0, 3.0, 3.0}, Verdict::Pass},
    {"B_scratch_over_3", 'B', {}, {3.01}, Verdict::Fail},
    {"C_no_limit", 'C', {60.0, 30.0}, {20.0}, Verdict::Pass},
    {"D_defect_under_10", 'D', many(30, 9.99), {}, Verdict::Pass},
    {"D_defect_at_10", 'D', {10.0}, {}, Verdict::Fail},
    {"D_scratches_unlimited", 'D', {}, {15.0}, Verdict::Pass},
};

class CriteriaTable : public testing::TestWithParam<Case> {};

TEST_P(CriteriaTable, JudgesTheZoneAndOnlyThatZone)
{
    const Case &c = GetParam();
    std::vector<endface::Defect> defects;
    for (double size : c.defects_um) {
        endface::Defect defect;
        defect.zone = zone_index(c.zone);
        defect.diameter_um = size;
        defects.push_back(defect);
    }
    std::vector<endface::Scratch> scratches;
    for (double width : c.scratches_um) {
        endface::Scratch scratch;
        scratch.zone = zone_index(c.zone);
        scratch.width_um = width;
        scratches.push_back(scratch);
    }
    const auto verdicts = endface::judge(endface::single_mode_pc_criteria(), defects, scratches);
    ASSERT_EQ(verdicts.size(), 4u);
    for (size_t i = 0; i < verdicts.size(); ++i) {
        const bool judged = static_cast<int>(i) == zone_index(c.zone);
        EXPECT_EQ(verdicts[i].verdict, judged ? c.expected : Verdict::Pass) << "zone " << verdicts[i].zone;
        EXPECT_EQ(verdicts[i].reasons.empty(), verdicts[i].verdict == Verdict::Pass);
    }
    EXPECT_EQ(verdicts[zone_index(c.zone)].defect_count, static_cast<int>(c.defects_um.size()));
    EXPECT_EQ(endface::overall_verdict(verdicts), c.expected);
}

INSTANTIATE_TEST_SUITE_P(SingleModePc, CriteriaTable, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

TEST(CriteriaTable, ZonesAreTheConnectorDiameters)
{
    const endface::Criteria &table = endface::single_mode_pc_criteria();
    EXPECT_EQ(endface::find_criteria("single-mode PC"), &table);
    EXPECT_EQ(endface::find_criteria("no such table"), nullptr);
    std::vector<endface::Zone> zones;
    for (const auto &row : table.zones)
        zones.push_back(row.zone);
    const struct {
        double radius_um;
        int zone;
    } points[] = {{0.0, 0},   {12.49, 0}, {12.5, 1},   {57.49, 1}, {57.5, 2},
                  {67.49, 2}, {67.5, 3},  {124.99, 3}, {125.0, -1}};
    for (const auto &point : points)
        EXPECT_EQ(endface::zone_at(zones, point.radius_um), point.zone) << point.radius_um;
}

}  // namespace
