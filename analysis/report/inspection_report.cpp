#include "inspection_report.h"

#include <opencv2/imgcodecs.hpp>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

namespace endface {

namespace fs = std::filesystem;

namespace {

const char *const kImageSuffix = ".inspect.png";
const char *const kPageSuffix = ".inspect.html";

std::string format(const char *pattern, double a, double b = 0.0, double c = 0.0)
{
    char text[128];
    std::snprintf(text, sizeof text, pattern, a, b, c);
    return text;
}

std::string zone_name(const InspectionResult &result, int zone)
{
    if (zone < 0 || zone >= static_cast<int>(result.zones.size()))
        return "outside";
    return result.zones[static_cast<size_t>(zone)].name;
}

std::string joined(const std::vector<std::string> &lines, const char *separator)
{
    std::string text;
    for (const std::string &line : lines)
        text += (text.empty() ? "" : separator) + line;
    return text;
}

std::string verdict_text(const InspectionResult &result)
{
    if (result.overall == Verdict::CannotInspect)
        return std::string(to_string(result.overall)) + ": " + result.cannot_inspect_reason;
    return to_string(result.overall);
}

std::string html_escaped(const std::string &text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// A file name as a relative URL: "#", "?", "%" and blanks would otherwise
// cut or bend the link.
std::string url_escaped(const std::string &name)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : name) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0x0F];
        }
    }
    return out;
}

std::string cell(const std::string &text)
{
    return "<td>" + html_escaped(text) + "</td>";
}

const char *const kPageStyle =
    "body{font-family:sans-serif;margin:1.5em;color:#222}"
    "table{border-collapse:collapse;margin:0.5em 0 1.5em}"
    "th,td{border:1px solid #bbb;padding:0.25em 0.6em;text-align:left}"
    "th{background:#eee}"
    ".verdict{display:inline-block;padding:0.2em 0.8em;color:#fff;font-size:1.6em;font-weight:bold}"
    ".pass{background:#009600}.fail{background:#d20000}.cannot{background:#646464}"
    "img{max-width:100%;border:1px solid #888}";

const char *verdict_class(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Pass:
        return "pass";
    case Verdict::Fail:
        return "fail";
    case Verdict::CannotInspect:
        break;
    }
    return "cannot";
}

std::string temporary_name(const fs::path &target)
{
    std::random_device random;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".part-%08x", static_cast<unsigned>(random()));
    return target.string() + suffix;
}

// Writes bytes to path through a temporary file in the same folder; the
// error text, or an empty one.
std::string write_whole(const fs::path &path, const std::string &bytes)
{
    const fs::path temporary = temporary_name(path);
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        if (!file)
            return "cannot create " + temporary.string() + ": " + std::strerror(errno);
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        file.close();
        if (!file) {
            std::error_code ignored;
            fs::remove(temporary, ignored);
            return "cannot write " + temporary.string() + " (is the disk full?)";
        }
    }
    std::error_code error;
    fs::rename(temporary, path, error);
    if (error) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return "cannot replace " + path.string() + ": " + error.message();
    }
    return std::string();
}

// True when path already names the picture (a link, or the same file by
// another name): replacing it would lose the picture.
bool is_the_picture(const fs::path &path, const fs::path &picture)
{
    std::error_code error;
    return fs::exists(path, error) && fs::equivalent(path, picture, error);
}

}  // namespace

ReportPaths report_paths(const std::string &picture_path, const std::string &directory)
{
    const fs::path picture(picture_path);
    const fs::path folder = directory.empty() ? picture.parent_path() : fs::path(directory);
    const std::string stem = picture.stem().string();
    return {(folder / (stem + kImageSuffix)).string(), (folder / (stem + kPageSuffix)).string()};
}

std::string text_summary(const InspectionResult &result)
{
    std::ostringstream out;
    const Fibre &fibre = result.fibre;
    if (fibre.um_per_px > 0.0) {
        out << format("fibre: centre (%.1f, %.1f) px, cladding radius %.1f px", fibre.centre_px.x, fibre.centre_px.y,
                      fibre.cladding_radius_px)
            << format(", %.3f um/px", fibre.um_per_px) << " (" << to_string(fibre.scale_source) << ")\n";
    }
    if (!result.criteria.empty())
        out << "criteria: " << result.criteria << "\n";
    if (!result.zone_verdicts.empty()) {
        out << "zone  role       diameter um  defects  scratches  verdict\n";
        for (size_t i = 0; i < result.zone_verdicts.size(); ++i) {
            const ZoneVerdict &verdict = result.zone_verdicts[i];
            const Zone *zone = i < result.zones.size() ? &result.zones[i] : nullptr;
            char line[160];
            std::snprintf(line, sizeof line, "%-5s %-10s %4.0f to %-4.0f %7d  %9d  %s", verdict.zone.c_str(),
                          zone ? zone->role.c_str() : "", zone ? zone->inner_diameter_um : 0.0,
                          zone ? zone->outer_diameter_um : 0.0, verdict.defect_count, verdict.scratch_count,
                          to_string(verdict.verdict));
            out << line;
            if (!verdict.reasons.empty())
                out << ": " << joined(verdict.reasons, "; ");
            out << "\n";
        }
    }
    if (!result.defects.empty()) {
        out << "defects:\n";
        for (size_t i = 0; i < result.defects.size(); ++i) {
            const Defect &defect = result.defects[i];
            char line[160];
            std::snprintf(line, sizeof line, "  %3zu  %-13s zone %-7s at (%.0f, %.0f) px  %.1f um", i + 1,
                          to_string(defect.kind), zone_name(result, defect.zone).c_str(), defect.centre_px.x,
                          defect.centre_px.y, defect.diameter_um);
            out << line << "\n";
        }
    }
    if (!result.scratches.empty()) {
        out << "scratches:\n";
        for (size_t i = 0; i < result.scratches.size(); ++i) {
            const Scratch &scratch = result.scratches[i];
            char line[160];
            std::snprintf(line, sizeof line, "  %3zu  zone %-7s width %.1f um  length %.1f um", i + 1,
                          zone_name(result, scratch.zone).c_str(), scratch.width_um, scratch.length_um);
            out << line << "\n";
        }
    }
    out << "verdict: " << verdict_text(result) << "\n";
    return out.str();
}

std::string report_page(const std::string &picture_name, const std::string &image_name, const InspectionResult &result)
{
    std::ostringstream page;
    page << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n<title>End-face inspection: "
         << html_escaped(picture_name) << "</title>\n<style>" << kPageStyle << "</style></head>\n<body>\n"
         << "<h1>End-face inspection: " << html_escaped(picture_name) << "</h1>\n"
         << "<p><span class=\"verdict " << verdict_class(result.overall) << "\">"
         << html_escaped(to_string(result.overall)) << "</span></p>\n";
    if (result.overall == Verdict::CannotInspect)
        page << "<p>Reason: " << html_escaped(result.cannot_inspect_reason) << "</p>\n";

    const Fibre &fibre = result.fibre;
    if (fibre.um_per_px > 0.0) {
        page << "<p>Criteria: " << html_escaped(result.criteria) << ". Fibre centre at "
             << format("(%.1f, %.1f) px, cladding radius %.1f px, ", fibre.centre_px.x, fibre.centre_px.y,
                       fibre.cladding_radius_px)
             << format("%.3f &micro;m per pixel", fibre.um_per_px) << " (" << to_string(fibre.scale_source)
             << ").</p>\n";
    }
    if (!result.zone_verdicts.empty()) {
        page << "<h2>Zones</h2>\n<table><tr><th>Zone</th><th>Role</th><th>Diameter (&micro;m)</th>"
                "<th>Defects</th><th>Scratches</th><th>Verdict</th><th>Broken limits</th></tr>\n";
        for (size_t i = 0; i < result.zone_verdicts.size(); ++i) {
            const ZoneVerdict &verdict = result.zone_verdicts[i];
            const Zone *zone = i < result.zones.size() ? &result.zones[i] : nullptr;
            page << "<tr>" << cell(verdict.zone) << cell(zone ? zone->role : "")
                 << cell(zone ? format("%g to %g", zone->inner_diameter_um, zone->outer_diameter_um) : "")
                 << cell(std::to_string(verdict.defect_count)) << cell(std::to_string(verdict.scratch_count))
                 << cell(to_string(verdict.verdict)) << cell(joined(verdict.reasons, "; ")) << "</tr>\n";
        }
        page << "</table>\n";
    }
    if (!result.defects.empty()) {
        page << "<h2>Defects</h2>\n<table><tr><th>#</th><th>Kind</th><th>Zone</th><th>Position (px)</th>"
                "<th>Diameter (&micro;m)</th></tr>\n";
        for (size_t i = 0; i < result.defects.size(); ++i) {
            const Defect &defect = result.defects[i];
            page << "<tr>" << cell(std::to_string(i + 1)) << cell(to_string(defect.kind))
                 << cell(zone_name(result, defect.zone))
                 << cell(format("%.0f, %.0f", defect.centre_px.x, defect.centre_px.y))
                 << cell(format("%.1f", defect.diameter_um)) << "</tr>\n";
        }
        page << "</table>\n";
    }
    if (!result.scratches.empty()) {
        page << "<h2>Scratches</h2>\n<table><tr><th>#</th><th>Zone</th><th>Width (&micro;m)</th>"
                "<th>Length (&micro;m)</th></tr>\n";
        for (size_t i = 0; i < result.scratches.size(); ++i) {
            const Scratch &scratch = result.scratches[i];
            page << "<tr>" << cell(std::to_string(i + 1)) << cell(zone_name(result, scratch.zone))
                 << cell(format("%.1f", scratch.width_um)) << cell(format("%.1f", scratch.length_um)) << "</tr>\n";
        }
        page << "</table>\n";
    }
    if (!image_name.empty())
        page << "<p><img src=\"" << url_escaped(image_name) << "\" alt=\"annotated end face\"></p>\n";
    else
        page << "<p>No annotated picture: the inspection could not measure this one.</p>\n";
    page << "</body></html>\n";
    return page.str();
}

ReportOutcome write_report(const std::string &picture_path, const InspectionResult &result, const cv::Mat &annotated,
                           const std::string &directory)
{
    ReportOutcome outcome;
    if (picture_path.empty()) {
        outcome.error = "no picture named";
        return outcome;
    }
    outcome.paths = report_paths(picture_path, directory);
    const fs::path picture(picture_path);
    std::error_code missing;
    if (!fs::is_regular_file(picture, missing)) {
        outcome.error = "no picture at " + picture_path;
        return outcome;
    }
    const fs::path image(outcome.paths.image);
    const fs::path page(outcome.paths.page);

    if (!directory.empty()) {
        std::error_code error;
        fs::create_directories(directory, error);
        if (error) {
            outcome.error = "cannot create " + directory + ": " + error.message();
            return outcome;
        }
    }
    for (const fs::path &target : {image, page}) {
        if (is_the_picture(target, picture)) {
            outcome.error = target.string() + " is the picture itself; nothing was written";
            return outcome;
        }
    }

    std::string image_name;
    if (!annotated.empty()) {
        std::vector<unsigned char> png;
        if (!cv::imencode(".png", annotated, png)) {
            outcome.error = "cannot encode the annotated picture as PNG";
            return outcome;
        }
        outcome.error = write_whole(image, std::string(png.begin(), png.end()));
        if (!outcome.error.empty())
            return outcome;
        image_name = image.filename().string();
    }
    outcome.error = write_whole(page, report_page(picture.filename().string(), image_name, result));
    outcome.written = outcome.error.empty();
    return outcome;
}

}  // namespace endface
