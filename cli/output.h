#pragma once
// What the command writes: image files, a summary of an image on stdout,
// and the timing counters.

#include "files/calibration.h"
#include "files/image_io.h"
#include "host/host.h"

#include <string>

namespace zorvan::cli {

// Extensions of the files images are written to (.tif, .mrc, .npy, .png...),
// and of those read (these and .dm3, .dm4), in any case.
bool is_writable_extension(const std::string& path);
bool is_image_extension(const std::string& path);

// Why an image cannot be written to `path`, said before any work: an
// extension no writer takes, or a folder that does not exist. "" when it can.
std::string output_problem(const std::string& path);

// Why the folder `dir` cannot be made (with its parents) or written in: a
// part of it that is a file, or the nearest existing folder not writable.
// "" when it can.
std::string folder_problem(const std::string& dir);

// "written without pixel size 0.174 1/nm (the format cannot hold it)" when
// the format of `path` does not keep it (files::keeps_calibration), else "".
std::string calibration_note(const std::string& path, const files::PixelSize& pixel_size);

// Writes the image to the file (format by extension), with its pixel size
// where the format holds it (see calibration_note). A failure throws
// FileFailure.
void write_file(const std::string& path, files::ImageData image);
void write_file(const std::string& path, const host::Image& image, const files::PixelSize& pixel_size = {});

// "label: type, W x H", then the minimum, maximum and mean (complex: of the
// modulus, and the mean of each part), NaN pixels left out and counted.
void summarise(const char* label, const host::Image& image);

// The counters: name, additions, total milliseconds.
void print_trace();

}  // namespace zorvan::cli
