#include "wiener/report.h"

#include "files/image_io.h"

#include <png.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <cstring>

namespace zorvan::wiener {

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

std::vector<double> round_ticks(double low, double high, int at_most) {
    if (!(high > low)) return {low};
    const double raw = (high - low) / at_most;
    const double exponent = std::floor(std::log10(raw));
    double factor = 10;
    for (double f : {1.0, 2.0, 5.0}) {
        if (f * std::pow(10.0, exponent) >= raw) {
            factor = f;
            break;
        }
    }
    // k·factor·10^e, divided by 10^-e when e < 0 so that 0.3 is the double nearest 0.3.
    auto tick = [&](double k) {
        return exponent < 0 ? k * factor / std::pow(10.0, -exponent) : k * factor * std::pow(10.0, exponent);
    };
    const double step = tick(1);
    std::vector<double> ticks;
    for (double k = std::ceil(low / step); tick(k) <= high + step * 1e-9; k += 1) ticks.push_back(tick(k) + 0.0);
    return ticks;
}

std::vector<float> percentiles(std::vector<float> values, const std::vector<double>& fractions) {
    values.erase(std::remove_if(values.begin(), values.end(), [](float v) { return !std::isfinite(v); }), values.end());
    std::sort(values.begin(), values.end());
    std::vector<float> out;
    for (double fraction : fractions) {
        out.push_back(values.empty() ? 0.0f
                                     : values[static_cast<std::size_t>(std::lround(fraction * static_cast<double>(values.size() - 1)))]);
    }
    return out;
}

std::string html_escape(const std::string& text) {
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

namespace {

std::string number(double value, const char* format = "%.1f") {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// A picture of the page: its PNG made in memory, with what its grey levels
// mean and, where the pixel size is known, a scale bar.
struct Figure {
    std::string name;
    std::string caption;
    std::string png;  // the encoded bytes
    std::uint64_t width, height;
    bool actual_size;   // one image pixel per screen pixel
    double black, white;  // the values shown black and white, linearly between
    std::string scale_bar;  // HTML, or empty
};

void write_plane(const std::string& path, const std::vector<float>& pixels, std::uint64_t w, std::uint64_t h) {
    files::ImageData data{host::data_type::real4, {w, h}, {}};
    data.bytes.resize(pixels.size() * sizeof(float));
    std::memcpy(data.bytes.data(), pixels.data(), data.bytes.size());
    files::write_image(path, data);
}

// An 8-bit grey PNG of the pixels stretched linearly from `black` to `white`
// (values beyond are clipped; NaN is black).
std::string grey_png(const std::vector<float>& pixels, std::uint64_t w, std::uint64_t h, double black, double white) {
    std::vector<std::uint8_t> grey(pixels.size());
    const double span = white > black ? white - black : 1.0;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const double level = std::isnan(pixels[i]) ? 0.0 : std::clamp((pixels[i] - black) / span, 0.0, 1.0);
        grey[i] = static_cast<std::uint8_t>(std::lround(255.0 * level));
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(w);
    image.height = static_cast<png_uint_32>(h);
    image.format = PNG_FORMAT_GRAY;
    png_alloc_size_t bytes = 0;
    if (!png_image_write_to_memory(&image, nullptr, &bytes, 0, grey.data(), 0, nullptr)) {
        throw std::runtime_error(std::string("the report's PNG could not be made (libpng: ") + image.message + ")");
    }
    std::string png(bytes, '\0');
    if (!png_image_write_to_memory(&image, png.data(), &bytes, 0, grey.data(), 0, nullptr)) {
        throw std::runtime_error(std::string("the report's PNG could not be made (libpng: ") + image.message + ")");
    }
    png.resize(bytes);
    return png;
}

void write_bytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out.flush()) throw std::runtime_error(path + ": could not be written");
}

std::string figure_html(const Figure& figure) {
    std::ostringstream html;
    html << "<figure><div class=\"pair\"><img alt=\"" << html_escape(figure.name) << "\" ";
    if (figure.actual_size) {
        html << "class=\"actual\" width=\"" << figure.width << "\" height=\"" << figure.height << "\" ";
    }
    // The grey-level bar: white at the top, black at the bottom, the values beside.
    html << "src=\"data:image/png;base64," << base64(figure.png) << "\"><div class=\"bar\"><span>"
         << number(figure.white, "%.4g") << "</span><span>" << number(figure.black, "%.4g") << "</span></div></div>"
         << figure.scale_bar << "<figcaption><b>" << html_escape(figure.name) << "</b>: " << html_escape(figure.caption)
         << "</figcaption></figure>\n";
    return html.str();
}

std::string size_text(const ReportPage& page, std::uint64_t w, std::uint64_t h) {
    std::string text = std::to_string(w) + " × " + std::to_string(h) + " pixels";
    if (page.pixel_size_nm > 0) {
        const std::string unit = page.reciprocal ? " 1/nm)" : " nm)";
        text += " (" + number(static_cast<double>(w) * page.pixel_size_nm, "%.4g") + " × " +
                number(static_cast<double>(h) * page.pixel_size_nm, "%.4g") + unit;
    }
    return text;
}

}  // namespace

ReportPage wiener_report_page(const std::string& input_name, const files::ImageData& input,
                              const WienerResult& result, const WienerOptions& options) {
    ReportPage page;
    const WienerPlane& plane = result.first;
    if (!plane.power || plane.input.empty() || plane.filtered.empty()) {
        throw std::logic_error("the report needs a result filtered for a report (wiener_filter's for_report)");
    }
    page.width = input.sizes.at(0);
    page.height = input.sizes.at(1);
    page.pixel_size_nm = input.pixel_size.known() ? input.pixel_size.value : 0;
    page.reciprocal = input.pixel_size.reciprocal;
    page.spectrum_width = plane.spectrum_width;
    page.spectrum_height = plane.spectrum_height;
    page.title = "Wiener filter of " + input_name;

    std::string shape;
    for (std::size_t k = 0; k < input.sizes.size(); ++k) shape += (k ? " × " : "") + std::to_string(input.sizes[k]);
    double low = INFINITY, high = -INFINITY, sum = 0, squares = 0;
    for (float v : plane.input) {
        low = std::min<double>(low, v);
        high = std::max<double>(high, v);
        sum += v;
    }
    const double count = static_cast<double>(plane.input.size()), mean = sum / count;
    for (float v : plane.input) squares += (v - mean) * (v - mean);
    page.facts = {
        {"input", input_name},
        {"size", shape + (result.planes > 1 ? " (the report shows plane 1)" : "")},
        {"pixel type", result.type_name + (result.converted ? ", filtered as 4-byte real" : "")},
        {"pixel size", input.pixel_size.known() ? number(input.pixel_size.value, "%.6g") + " " + input.pixel_size.unit()
                                                 : "not given"},
        {"minimum, maximum", number(low, "%.6g") + ", " + number(high, "%.6g")},
        {"mean, standard deviation", number(mean, "%.6g") + ", " + number(std::sqrt(squares / count), "%.6g")},
        {"non-finite pixels", std::to_string(result.replaced_pixels) +
                                  (result.replaced_pixels ? " (replaced by the mean of their plane's finite pixels)" : "")},
        {"window", options.window == Window::hann ? "Hann" : "sine"},
        {"smoothing λ", number(options.lambda, "%g")},
        {"mode", options.mode == Mode::wiener
                     ? "wiener: S / (S + N) per ring, or the lattice mask where it passes more; edges mirrored by at "
                           "least " + std::to_string(kMirrorPadding) + " pixels"
                     : "lattice: only reflections standing above their ring"},
        {"lattice margin", number(options.margin(), "%g") + " times the ring's mean power"},
        {"noise found", "a white noise of variance " + number(plane.noise_variance, "%.4g") +
                            " per pixel (power " + number(plane.noise_power, "%.4g") +
                            " in the transform), the median of the rings from " + number(kNoiseRingsFrom, "%g") +
                            " to " + number(kNoiseRingsTo, "%g") + " of the Nyquist frequency"},
        {"power kept", number(100 * plane.kept_fraction, "%.1f") +
                           " % of the power above the noise (outside the zero frequency)"},
        {"mask passes", std::to_string(plane.mask_passed) + " of " +
                            std::to_string(plane.spectrum_width * plane.spectrum_height) +
                            " frequencies at 0.5 or more"},
    };
    if (options.mode == Mode::lattice && plane.kept_fraction < kLatticeWarningFraction) {
        page.paragraphs.push_back(std::string("Warning: ") + kLittlePeriodicContent + ".");
    }
    page.planes = {
        {"input", "the image filtered", plane.input, true},
        {"filtered", "Wiener-filtered", plane.filtered, true},
        {"difference", "input − filtered: what was removed", {}, false},
    };
    for (std::size_t i = 0; i < plane.input.size(); ++i) page.planes[2].pixels.push_back(plane.input[i] - plane.filtered[i]);
    page.power = plane.power.pixels<float>();
    page.mask = plane.mask.pixels<float>();
    page.profile = plane.profile;
    page.background = plane.background;
    page.threshold_offset = plane.threshold_offset;
    page.noise_ln = options.mode == Mode::wiener ? plane.noise_ln_mean : NAN;
    page.rings_per_cycle = plane.rings_per_cycle;
    page.stages = result.stages;
    for (const auto& counter : host::Host::counters()) {
        page.counters.push_back({counter.name, counter.additions, counter.total_ms()});
    }
    return page;
}

std::string profile_svg(const ReportPage& page) {
    // The legend sits above the frame, clear of the curves.
    constexpr double width = 720, height = 360, left = 60, right = 20, top = 40, bottom = 45;
    const std::size_t count = std::min(page.profile.size(), page.background.size());
    double low = INFINITY, high = -INFINITY;
    for (std::size_t k = 1; k < count; ++k) {
        for (double v : {page.profile[k], page.background[k], page.background[k] + page.threshold_offset}) {
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
    // A margin inside the frame, so no point sits on its edge.
    const double pad = 0.04 * (high - low);
    low -= pad;
    high += pad;
    // Ring k lies at k / rings_per_cycle cycles per pixel, or per pixel size in nm.
    const double per_ring = 1.0 / page.rings_per_cycle / (page.pixel_size_nm > 0 ? page.pixel_size_nm : 1.0);
    const double last = (count > 1 ? static_cast<double>(count - 1) : 1.0) * per_ring;
    auto px = [&](double f) { return left + 4 + (width - left - right - 8) * f / last; };
    auto py = [&](double v) { return top + (height - top - bottom) * (high - v) / (high - low); };

    std::ostringstream svg;
    svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
        << "\" viewBox=\"0 0 " << width << ' ' << height << "\" role=\"img\" aria-label=\"radial power profile\">\n";
    svg << "<rect x=\"" << left << "\" y=\"" << top << "\" width=\"" << width - left - right << "\" height=\""
        << height - top - bottom << "\" fill=\"#fbfbfb\" stroke=\"#999\"/>\n";
    for (double v : round_ticks(low, high)) {
        svg << "<text x=\"" << left - 6 << "\" y=\"" << number(py(v) + 4, "%.2f")
            << "\" font-size=\"11\" text-anchor=\"end\">" << number(v, "%g") << "</text>\n";
    }
    for (double f : round_ticks(0, last)) {
        svg << "<text x=\"" << number(px(f), "%.2f") << "\" y=\"" << height - bottom + 16
            << "\" font-size=\"11\" text-anchor=\"middle\">" << number(f, "%g") << "</text>\n";
    }
    svg << "<text x=\"" << (left + width - right) / 2 << "\" y=\"" << height - 8
        << "\" font-size=\"12\" text-anchor=\"middle\">spatial frequency ("
        << (page.pixel_size_nm <= 0 ? "cycles per pixel" : page.reciprocal ? "nm: the input is reciprocal, in 1/nm" : "1/nm")
        << ")</text>\n";
    svg << "<text x=\"14\" y=\"" << (top + height - bottom) / 2 << "\" font-size=\"12\" text-anchor=\"middle\" "
        << "transform=\"rotate(-90 14 " << (top + height - bottom) / 2 << ")\">ln power</text>\n";
    svg << "<g fill=\"#1f77b4\">\n";
    for (std::size_t k = 1; k < count; ++k) {
        if (std::isfinite(page.profile[k])) {
            svg << "<circle cx=\"" << number(px(static_cast<double>(k) * per_ring), "%.2f") << "\" cy=\""
                << number(py(page.profile[k]), "%.2f") << "\" r=\"1.6\"/>\n";
        }
    }
    svg << "</g>\n";
    for (const double offset : {0.0, page.threshold_offset}) {
        svg << "<polyline fill=\"none\" stroke=\"" << (offset == 0.0 ? "#d62728\"" : "#2ca02c\" stroke-dasharray=\"6 4\"")
            << " stroke-width=\"2\" points=\"";
        for (std::size_t k = 1; k < count; ++k) {
            svg << number(px(static_cast<double>(k) * per_ring), "%.2f") << ','
                << number(py(page.background[k] + offset), "%.2f") << ' ';
        }
        svg << "\"/>\n";
    }
    if (std::isfinite(page.noise_ln)) {
        svg << "<line x1=\"" << left << "\" x2=\"" << width - right << "\" y1=\"" << number(py(page.noise_ln), "%.2f")
            << "\" y2=\"" << number(py(page.noise_ln), "%.2f") << "\" stroke=\"#555\" stroke-dasharray=\"2 3\"/>\n";
    }
    svg << "<text x=\"" << width - right << "\" y=\"" << top - 12
        << "\" font-size=\"12\" text-anchor=\"end\"><tspan fill=\"#1f77b4\">● each ring</tspan>  "
           "<tspan fill=\"#d62728\">— smoothed</tspan>  <tspan fill=\"#2ca02c\">- - lattice threshold: a "
           "reflection passes where it stands above this (smoothed + "
        << number(page.threshold_offset, "%.2f") << ", the margin times the ring's mean power)</tspan>"
        << (std::isfinite(page.noise_ln) ? "  <tspan fill=\"#555\">··· noise</tspan>" : "") << "</text>\n";
    svg << "</svg>\n";
    return svg.str();
}

std::vector<std::string> write_report(const std::string& dir, const ReportPage& page) {
    if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) throw std::runtime_error(dir + ": " + std::strerror(errno));
    const std::uint64_t w = page.width, h = page.height;
    std::vector<std::string> files;
    // Each picture as NAME.tif (its values) and NAME.png (as shown).
    auto save = [&](const std::string& name, const std::vector<float>& pixels, std::uint64_t pw, std::uint64_t ph,
                    double black, double white) {
        files.push_back(dir + "/" + name + ".tif");
        write_plane(files.back(), pixels, pw, ph);
        std::string png = grey_png(pixels, pw, ph, black, white);
        files.push_back(dir + "/" + name + ".png");
        write_bytes(files.back(), png);
        return png;
    };
    // The spectrum's picture is stretched between its 1st and 99.9th
    // percentiles, so the zero frequency and the empty corners do not take
    // all the grey levels; its TIFF keeps the true values.
    const std::uint64_t sw = page.spectrum_width ? page.spectrum_width : w;
    const std::uint64_t sh = page.spectrum_height ? page.spectrum_height : h;
    const auto clip = percentiles(page.power, {0.01, 0.999});
    // A diffraction pattern's spectrum is in lengths: its edge is half the
    // inverse of the reciprocal pixel size, in nm.
    const std::string frequency_edge =
        page.pixel_size_nm <= 0 ? "0.5 cycles per pixel"
        : page.reciprocal       ? number(0.5 / page.pixel_size_nm, "%.4g") + " nm (the input is reciprocal, in 1/nm)"
                                : number(0.5 / page.pixel_size_nm, "%.4g") + " 1/nm";
    std::vector<Figure> spectrum = {
        {"ln_power_spectrum",
         "ln power of the apodised image (with its mirrored edges in wiener mode), zero frequency at the centre; "
         "grey levels linear from its 1st percentile (black) to its 99.9th (white); the edges are at " +
             frequency_edge + "; the true values are in ln_power_spectrum.tif",
         save("ln_power_spectrum", page.power, sw, sh, clip[0], clip[1]), sw, sh, false, clip[0], clip[1], ""},
        {"wiener_mask", "the mask, on the same axes: linear, black 0 (removed) to white 1 (kept)",
         save("wiener_mask", page.mask, sw, sh, 0, 1), sw, sh, false, 0, 1, ""},
    };
    // Every image on the first one's scale (its 0.1st to 99.9th
    // percentiles), the difference on a scale as wide centred on 0, so that
    // what was removed is seen in proportion to the input.
    const auto range = page.planes.empty() ? std::vector<float>{0, 1} : percentiles(page.planes[0].pixels, {0.001, 0.999});
    const double half = (range[1] - range[0]) / 2;
    // A scale bar of a round length near a quarter of the width, under an
    // image shown `shown` CSS pixels wide, of `columns` pixels.
    auto scale_bar = [&](std::uint64_t columns, double shown) -> std::string {
        if (page.pixel_size_nm <= 0 || columns == 0) return "";
        const auto lengths = round_ticks(0, 0.3 * static_cast<double>(columns) * page.pixel_size_nm, 3);
        const double length = lengths.size() > 1 ? lengths[1] : 0;
        if (!(length > 0)) return "";
        const double width = length / page.pixel_size_nm * shown / static_cast<double>(columns);
        return "<div class=\"scale\"><span style=\"width:" + number(width, "%.1f") + "px\"></span>" +
               number(length, "%g") + (page.reciprocal ? " 1/nm" : " nm") + "</div>";
    };
    const std::uint64_t crop_w = std::min<std::uint64_t>(256, w), crop_h = std::min<std::uint64_t>(256, h);
    std::vector<Figure> crops, whole;
    for (const auto& plane : page.planes) {
        const bool difference = plane.name == "difference";
        const double black = difference ? -half : range[0], white = difference ? half : range[1];
        const std::string stretch = difference ? ", grey levels linear, 0 mid-grey, as wide as the input's"
                                               : ", grey levels linear on the input's scale";
        whole.push_back({plane.name, plane.caption + ", " + size_text(page, w, h) + stretch,
                         save(plane.name, plane.pixels, w, h, black, white), w, h, false, black, white,
                         scale_bar(w, 256)});
        if (!plane.cropped) continue;
        std::vector<float> crop;
        for (std::uint64_t y = (h - crop_h) / 2; y < (h - crop_h) / 2 + crop_h; ++y) {
            const float* row = plane.pixels.data() + y * w + (w - crop_w) / 2;
            crop.insert(crop.end(), row, row + crop_w);
        }
        crops.push_back({plane.name + "_crop", plane.caption + ", the central " + size_text(page, crop_w, crop_h) + " at 1:1",
                         save(plane.name + "_crop", crop, crop_w, crop_h, black, white), crop_w, crop_h, true, black,
                         white, scale_bar(crop_w, static_cast<double>(crop_w))});
    }

    std::ostringstream html;
    html << "<!doctype html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" << html_escape(page.title)
         << "</title>\n<style>\n"
         << "body{font-family:system-ui,sans-serif;margin:2em;color:#222;max-width:1200px}\n"
         << ".grid{display:flex;flex-wrap:wrap;gap:16px;align-items:flex-start}\nfigure{margin:0;max-width:520px}\n"
         << "figure img{width:256px;height:auto;image-rendering:pixelated;border:1px solid #ccc}\n"
         << ".wide img{width:512px}\nfigure img.actual{width:auto}\n"
         << ".pair{display:flex;gap:4px}.bar{width:14px;background:linear-gradient(#fff,#000);border:1px solid #999;"
            "display:flex;flex-direction:column;justify-content:space-between;font-size:10px}"
            ".bar span{margin-left:18px;white-space:nowrap}.pair{margin-right:40px}\n"
         << ".scale{font-size:11px}.scale span{display:inline-block;height:4px;background:#000;margin-right:6px}\n"
         << "figcaption{font-size:13px}\ntable{border-collapse:collapse}td,th{padding:3px 10px;border-bottom:1px solid #ddd;"
            "text-align:left}\ntd.n{text-align:right;font-variant-numeric:tabular-nums}\n"
         << "</style>\n</head>\n<body>\n<h1>" << html_escape(page.title) << "</h1>\n";
    for (const auto& paragraph : page.paragraphs) html << "<p>" << html_escape(paragraph) << "</p>\n";
    html << "<h2>Input and parameters</h2>\n<table>\n";
    for (const auto& fact : page.facts) html << "<tr><th>" << html_escape(fact.first) << "</th><td>" << html_escape(fact.second) << "</td></tr>\n";
    html << "</table>\n<h2>Spectrum and mask</h2>\n<div class=\"grid wide\">\n";
    for (const auto& figure : spectrum) html << figure_html(figure);
    html << "</div>\n<h2>Detail at full resolution</h2>\n<div class=\"grid\">\n";
    for (const auto& figure : crops) html << figure_html(figure);
    html << "</div>\n<h2>Whole images</h2>\n<div class=\"grid\">\n";
    for (const auto& figure : whole) html << figure_html(figure);
    html << "</div>\n<h2>Radial power profile</h2>\n" << profile_svg(page);
    html << "<h2>Stages</h2>\n<table>\n<tr><th>stage</th><th>ms</th></tr>\n";
    for (const auto& stage : page.stages) {
        html << "<tr><td>" << html_escape(stage.name) << "</td><td class=\"n\">" << number(stage.milliseconds) << "</td></tr>\n";
    }
    html << "</table>\n<h2>Plug-in timing counters</h2>\n<table>\n<tr><th>counter</th><th>additions</th><th>ms</th></tr>\n";
    for (const auto& counter : page.counters) {
        html << "<tr><td>" << html_escape(counter.name) << "</td><td class=\"n\">" << counter.additions
             << "</td><td class=\"n\">" << number(counter.milliseconds, "%.3f") << "</td></tr>\n";
    }
    html << "</table>\n</body>\n</html>\n";

    const std::string path = dir + "/report.html", temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << html.str();
        if (!out.flush()) {
            std::remove(temporary.c_str());
            throw std::runtime_error(path + ": the report could not be written");
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        throw std::runtime_error(path + ": the report could not be written");
    }
    files.push_back(path);
    return files;
}

}  // namespace zorvan::wiener
