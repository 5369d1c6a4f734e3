#include "demo/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace zorvan::demo {

std::string base64(const std::string& bytes) {
    static constexpr char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += digits[v >> 18];
        out += digits[(v >> 12) & 63];
        out += digits[(v >> 6) & 63];
        out += digits[v & 63];
    }
    if (i + 1 == bytes.size()) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        out += digits[v >> 18];
        out += digits[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == bytes.size()) {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
        out += digits[v >> 18];
        out += digits[(v >> 12) & 63];
        out += digits[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

namespace {

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error(path + ": cannot be read for the report");
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += "&amp;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string number(double value, const char* format = "%.1f") {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

std::string profile_svg(const std::vector<double>& profile, const std::vector<double>& background) {
    constexpr double width = 720, height = 320, left = 60, right = 20, top = 20, bottom = 45;
    const std::size_t count = std::min(profile.size(), background.size());
    double low = INFINITY, high = -INFINITY;
    for (std::size_t k = 1; k < count; ++k) {
        for (double v : {profile[k], background[k]}) {
            if (std::isfinite(v)) {
                low = std::min(low, v);
                high = std::max(high, v);
            }
        }
    }
    if (!(high > low)) {
        low -= 1;
        high += 1;
    }
    const double last = count > 1 ? static_cast<double>(count - 1) : 1.0;
    auto px = [&](double k) { return left + (width - left - right) * k / last; };
    auto py = [&](double v) { return top + (height - top - bottom) * (high - v) / (high - low); };

    std::ostringstream svg;
    svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
        << "\" viewBox=\"0 0 " << width << ' ' << height << "\" role=\"img\" aria-label=\"radial power profile\">\n";
    svg << "<rect x=\"" << left << "\" y=\"" << top << "\" width=\"" << width - left - right << "\" height=\""
        << height - top - bottom << "\" fill=\"#fbfbfb\" stroke=\"#999\"/>\n";
    for (int tick = 0; tick <= 4; ++tick) {
        const double v = low + (high - low) * tick / 4;
        const double k = last * tick / 4;
        svg << "<text x=\"" << left - 6 << "\" y=\"" << py(v) + 4 << "\" font-size=\"11\" text-anchor=\"end\">"
            << number(v) << "</text>\n";
        svg << "<text x=\"" << px(k) << "\" y=\"" << height - bottom + 16 << "\" font-size=\"11\" text-anchor=\"middle\">"
            << number(k, "%.0f") << "</text>\n";
    }
    svg << "<text x=\"" << (left + width - right) / 2 << "\" y=\"" << height - 8
        << "\" font-size=\"12\" text-anchor=\"middle\">radius (pixels of the spectrum)</text>\n";
    svg << "<text x=\"14\" y=\"" << (top + height - bottom) / 2 << "\" font-size=\"12\" text-anchor=\"middle\" "
        << "transform=\"rotate(-90 14 " << (top + height - bottom) / 2 << ")\">mean ln power</text>\n";
    svg << "<g fill=\"#1f77b4\">\n";
    for (std::size_t k = 1; k < count; ++k) {
        if (std::isfinite(profile[k])) {
            svg << "<circle cx=\"" << number(px(static_cast<double>(k)), "%.2f") << "\" cy=\""
                << number(py(profile[k]), "%.2f") << "\" r=\"1.6\"/>\n";
        }
    }
    svg << "</g>\n<polyline fill=\"none\" stroke=\"#d62728\" stroke-width=\"2\" points=\"";
    for (std::size_t k = 1; k < count; ++k) {
        svg << number(px(static_cast<double>(k)), "%.2f") << ',' << number(py(background[k]), "%.2f") << ' ';
    }
    svg << "\"/>\n";
    svg << "<text x=\"" << width - right - 8 << "\" y=\"" << top + 16
        << "\" font-size=\"12\" text-anchor=\"end\"><tspan fill=\"#1f77b4\">● ring means</tspan>  "
           "<tspan fill=\"#d62728\">— smoothed background</tspan></text>\n";
    svg << "</svg>\n";
    return svg.str();
}

void write_report(const std::string& path, const ReportData& data) {
    std::ostringstream page;
    page << "<!doctype html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         << "<title>ZorvanFilters64 demo: Wiener filter of a lattice image</title>\n<style>\n"
         << "body{font-family:system-ui,sans-serif;margin:2em;color:#222;max-width:1200px}\n"
         << ".grid{display:flex;flex-wrap:wrap;gap:16px}\nfigure{margin:0;width:256px}\n"
         << "figure img{width:256px;height:256px;image-rendering:pixelated;border:1px solid #ccc}\n"
         << "figcaption{font-size:13px}\ntable{border-collapse:collapse}td,th{padding:3px 10px;border-bottom:1px solid #ddd;"
            "text-align:left}\ntd.n{text-align:right;font-variant-numeric:tabular-nums}\n.snr{font-size:1.3em}\n"
         << "</style>\n</head>\n<body>\n";
    page << "<h1>Wiener filter of a noisy lattice image</h1>\n";
    page << "<p>A " << data.size << " × " << data.size << " hexagonal lattice under a smooth envelope, with shot noise of "
         << number(data.dose) << " counts per pixel on average (seed " << data.seed
         << "), filtered by the plug-in's functions through the host: apodisation, power spectrum, radial survey, "
            "Whittaker smoothing of the radial profile (λ = "
         << number(data.lambda, "%.0f") << "), radial warp of the background, Wiener mask (passing the power above "
         << number(data.noise_margin, "%.0f") << " times the background), and its product with the transform.</p>\n";
    page << "<p class=\"snr\">Signal-to-noise ratio against the clean image: noisy <b>" << number(data.snr_noisy_db)
         << " dB</b>, filtered <b>" << number(data.snr_filtered_db) << " dB</b> (gain "
         << number(data.snr_filtered_db - data.snr_noisy_db) << " dB).</p>\n";
    page << "<h2>Images</h2>\n<div class=\"grid\">\n";
    for (const auto& image : data.images) {
        page << "<figure><img alt=\"" << escape(image.name) << "\" src=\"data:image/png;base64,"
             << base64(read_file(image.png_path)) << "\"><figcaption><b>" << escape(image.name) << "</b>: "
             << escape(image.caption) << "</figcaption></figure>\n";
    }
    page << "</div>\n<h2>Radial power profile</h2>\n" << profile_svg(data.profile, data.background);
    page << "<h2>Stages</h2>\n<table>\n<tr><th>stage</th><th>ms</th></tr>\n";
    for (const auto& stage : data.stages) {
        page << "<tr><td>" << escape(stage.name) << "</td><td class=\"n\">" << number(stage.milliseconds) << "</td></tr>\n";
    }
    page << "</table>\n<h2>Plug-in timing counters</h2>\n<table>\n<tr><th>counter</th><th>additions</th><th>ms</th></tr>\n";
    for (const auto& counter : data.counters) {
        page << "<tr><td>" << escape(counter.name) << "</td><td class=\"n\">" << counter.additions
             << "</td><td class=\"n\">" << number(counter.milliseconds, "%.3f") << "</td></tr>\n";
    }
    page << "</table>\n</body>\n</html>\n";

    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << page.str();
        if (!out.flush()) {
            std::remove(temporary.c_str());
            throw std::runtime_error(path + ": the report could not be written");
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        throw std::runtime_error(path + ": the report could not be written");
    }
}

}  // namespace zorvan::demo
