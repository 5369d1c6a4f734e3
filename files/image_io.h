#pragma once
// Image files: TIFF, grey PNG, NumPy .npy, MRC and the host application's
// .dm3/.dm4, read into and written from the host's pixel layout (.dm3/.dm4
// are read only). Plain C++ over libtiff and libpng: no host needed.

#include "files/image_data.h"

#include <cstddef>
#include <string>
#include <vector>

namespace zorvan::files {

// The format follows the extension, in any case: .tif/.tiff, .png, .npy,
// .mrc/.mrcs/.map/.st/.ali/.rec, and .dm3/.dm4 (read only). "path:N" names
// image N (from 0, as list_images lists them) of a file; N is 0 for all but
// the host application's files.
//
// TIFF: one sample per pixel, 8/16/32-bit signed or unsigned integers,
// 32/64-bit reals, complex of 32/64-bit reals; strips or tiles, any
// compression libtiff decodes. One page reads as W x H, several as a
// W x H x pages stack (all pages alike). Writing is uncompressed: 1-D as one
// row (reads back W x 1), 2-D as one page, 3-D a page per plane, 4-D a page
// per (z, t) plane with z fastest (reads back as a 3-D stack); binary is
// written as unsigned 8-bit (reads back as code 6). The pixel size is read
// from hyperspy's tags (65003/65004 units, 65009/65010 scales), else from
// XResolution in the unit of ImageJ's "unit=" (nm, µm/um/micron, Å/A, pm,
// mm, 1/nm, ...; it overrides ResolutionUnit), else from XResolution in
// centimetres; x and y must agree. It is written as hyperspy's tags, and on
// one page as ImageJ's description "unit=nm" (or "1/nm") with XResolution
// and YResolution per unit; on a stack in centimetres (real space only).
//
// PNG: reads 8-bit grey (code 6) and 16-bit grey (code 10). Writing makes an
// 8-bit grey preview of the first plane, scaled from its minimum to its
// maximum; it does not read back as the image.
//
// NumPy .npy: reads versions 1.0 and 2.0, little- or big-endian, C or
// Fortran order; writes version 1.0, little-endian, C order. The shape is the
// sizes reversed: (h, w) is W x H. Binary is '|b1' (written as 0 and 1).
//
// MRC (MRC2014): modes 0 (signed 8-bit), 1 (int16), 2 (real4), 4
// (complex8) and 6 (uint16) read and written; 3 (complex of 16-bit integers)
// and 12 (16-bit reals) read, exactly, as complex8 and real4. Either byte
// order by MACHST; the extended header skipped; sections in file order
// (MAPC/MAPR/MAPS not applied); NZ > 1 as W x H x NZ. The pixel size is
// CELLA.x / MX in Angstrom. Written little-endian, NVERSION 20140, with the
// statistics of real pixels, 1-D as one row, 3-D as a stack of images
// (ISPG 0, MZ 1), 4-D as its z x t sections; no reciprocal pixel size
// (keeps_calibration); other pixel types are refused.
//
// The host application's .dm3/.dm4: versions 3 and 4, either value byte
// order; the images of its ImageList less the thumbnail; every host pixel
// type (complex as (re, im)), 1 to 4 dimensions, x fastest, binary as 0/1.
// Each axis's calibration (scale, origin, unit, reciprocal units too), the
// pixel size where x and y agree in unit and scale, the name, the voltage
// (Microscope Info) and exposure (DataBar). Without an index the first
// image that reads; RGB, packed complex, other codes, spectra and spectrum
// images are refused, each with its reason.
//
// Every message starts with the path. Images above 8 GiB are refused.
// A write goes to a temporary file beside the target, renamed over it only
// when complete.
ImageData read_image(const std::string& path);
void write_image(const std::string& path, const ImageData& image);

// Every image in the file, in order, refused ones with their reason; one for
// a TIFF, PNG, .npy or MRC file.
std::vector<ImageSummary> list_images(const std::string& path);

// Whether a file written at `path` keeps this pixel size, so that the
// caller can say when it is dropped: TIFF keeps any, MRC no reciprocal one,
// .npy and PNG none. True for an unknown size.
bool keeps_calibration(const std::string& path, const PixelSize& size);

// read_image over bytes in memory, `name` giving the format and the messages'
// prefix. For fuzzing and for callers that hold a file's contents already.
ImageData decode_image(const std::string& name, const void* data, std::size_t size);

}  // namespace zorvan::files
