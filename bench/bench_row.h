// The line every benchmark prints for bench/run's table: tab-separated
// "row", the figure's name, ours, the reference from the same run, their
// ratio, the target and whether it is met.
#pragma once

#include <cstdio>
#include <string>

inline void print_row(const std::string &name, const std::string &ours, const std::string &reference,
                      const std::string &ratio, const std::string &target, bool met)
{
    std::printf("row\t%s\t%s\t%s\t%s\t%s\t%s\n", name.c_str(), ours.c_str(), reference.c_str(), ratio.c_str(),
                target.c_str(), met ? "met" : "NOT MET");
    std::fflush(stdout);
}

inline std::string format(const char *pattern, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}
