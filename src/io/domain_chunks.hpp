// The fast path of the domain file reader: scale planes read as the stored
// chunks themselves (HDF5's direct chunk read) and decoded here, on several
// threads at once, straight into the planes. The NetCDF library decodes
// one chunk at a time, on one thread, through buffers of its own.
//
// It applies to planes stored as kelvo writes them: IEEE little-endian
// floats, one chunk per layer holding the whole plane, filtered by nothing,
// by deflate, or by shuffle then deflate (or shuffle alone). For anything
// else it declines, and the caller reads through the NetCDF library.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kelvo::io {

// A request: the three variables' planes of layers first..last (1-based)
// into `out`, in the order layer by layer, the three variables within a
// layer (the order of ScaleFields), each plane nlat x nlon values. Where a
// variable holds `fill`, a plane gets `no_value_marker`; a chunk never
// written is all `no_value_marker`.
struct ChunkRequest {
  std::string path;
  const std::string* variables = nullptr;  // three names
  std::int32_t first = 1, last = 0;
  std::int64_t nlat = 0, nlon = 0, nz = 0;
  float fill = 0.0f;
  float no_value_marker = 0.0f;
  std::span<float> out;
  int threads = 1;
};

// True when the planes were read this way; false, with nothing promised
// about `out`, when the file's storage is not the kind this reader decodes.
// A chunk that does not decode (corrupt data) is an Error (cannot_open,
// operation "read_domain_file") naming the file, the variable and the layer.
bool read_layer_chunks(const ChunkRequest& request);

// Keeps HDF5 from printing its failures on standard error on this thread
// (the NetCDF library answers them; on another thread than the first
// HDF5 would print the attributes it probes for and does not find).
void quiet_hdf5_errors();

}  // namespace kelvo::io
