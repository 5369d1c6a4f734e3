#pragma once
// What the command writes: image files, a summary of an image on stdout,
// and the timing counters.

#include "files/calibration.h"
#include "host/host.h"

#include <string>

namespace zorvan::cli {

// Writes the image to the file (format by extension); a failure throws
// FileFailure.
void write_file(const std::string& path, const host::Image& image, const files::PixelSize& pixel_size = {});

// "label: type, W x H", then the minimum, maximum and mean (complex: of the
// modulus, and the mean of each part), NaN pixels left out and counted.
void summarise(const char* label, const host::Image& image);

// The counters: name, additions, total milliseconds.
void print_trace();

}  // namespace zorvan::cli
