// liblumbrel: the conversion library. It turns the metafile pages of a document into image
// files (BMP, PNG, TIFF, JPEG) or one PDF file. Its only export is GetConvInf, which names a
// file type and hands out the converter function for it; callers bind it by name
// (dlopen "liblumbrel.so", dlsym "GetConvInf") or link the library.
//
// The converters read the save-as-image options that the client keeps in the shared block of
// slot 3 (raster converter) or slot 4 (PNG converter); see capture/lumbrel/image_options.h.
#pragma once

#include <stdint.h>

#define ZV_LUMBREL_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

// Converter types of GetConvInf.
enum {
  kZvConvBmp = 0,    // raster converter: BMP, TIFF or JPEG by the output path's extension
  kZvConvPng = 1,    // PNG converter
  kZvConvTiff = 4,   // raster converter (the filter text names TIFF)
  kZvConvJpeg = 5,   // raster converter (the filter text names JPEG)
  kZvConvPdf = 100,  // PDF converter
};

// The size of a filter buffer that holds every filter text with its NUL.
#define ZV_CONV_FILTER_SIZE 64

// A converter function. Takes:
//   reserved      not read (callers pass 0);
//   output        the output path (UTF-8). The raster converter reads a leading three-digit
//                 number as the resolution in dots per inch ("120/home/u/x.tif"); a path
//                 without one is used whole at 200 dots per inch. The PNG and PDF converters
//                 take the path whole;
//   pages         `count` pointers, each to the EMR_HEADER record of one page's metafile
//                 (the metafile is the header's nBytes bytes);
//   sizes         2 x `count` values: width and height of each page in 1/28800 inch;
//   count         the number of pages;
//   document_name the document's name (not read);
//   document_data the start of the document data (not read).
// Gives non-zero when every page was written, 0 otherwise. Nothing is left half-written on
// failure: files of pages finished before the failing one stay (one file per page), while a
// TIFF or PDF file that would miss pages is removed.
typedef int32_t (*ZvConverter)(uint32_t reserved, const char* output, const void* const* pages, const uint32_t* sizes,
                               uint32_t count, const char* document_name, const void* document_data);

// Takes a converter type, a buffer of ZV_CONV_FILTER_SIZE bytes or null, and where to store
// the converter. For the types above copies the file-dialog filter text (UTF-8, e.g.
// "PNGファイル(*.png)|*.png|", "PDF" for type 100) into the buffer when one is given,
// stores the converter and gives non-zero. For any other type, or a null `converter`, gives
// 0 and touches neither the buffer nor the converter.
ZV_LUMBREL_API int32_t GetConvInf(uint32_t type, char* filter, ZvConverter* converter);

#ifdef __cplusplus
}
#endif
