#include "io/domain_chunks.hpp"

#include <hdf5.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "core/error.hpp"
#include "core/parallel.hpp"

namespace kelvo::io {

namespace {

// An HDF5 identifier closed when it goes.
struct Handle {
  hid_t id = H5I_INVALID_HID;
  herr_t (*close)(hid_t) = nullptr;
  Handle(hid_t i, herr_t (*c)(hid_t)) : id(i), close(c) {}
  ~Handle() {
    if (id >= 0) close(id);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool ok() const { return id >= 0; }
};

// How a variable's chunks are filtered, in the order the writer applied them.
struct Pipeline {
  bool shuffled = false;
  bool deflated = false;
};

// The pipeline of a dataset stored as this reader decodes, or none.
bool known_storage(hid_t dataset, const ChunkRequest& r, Pipeline& p) {
  const Handle type(H5Dget_type(dataset), H5Tclose);
  if (!type.ok() || H5Tequal(type.id, H5T_IEEE_F32LE) <= 0) return false;
  const Handle space(H5Dget_space(dataset), H5Sclose);
  hsize_t dims[3] = {0, 0, 0};
  if (!space.ok() || H5Sget_simple_extent_ndims(space.id) != 3 || H5Sget_simple_extent_dims(space.id, dims, nullptr) != 3) {
    return false;
  }
  if (dims[0] != static_cast<hsize_t>(r.nz) || dims[1] != static_cast<hsize_t>(r.nlat) ||
      dims[2] != static_cast<hsize_t>(r.nlon)) {
    return false;
  }
  const Handle plist(H5Dget_create_plist(dataset), H5Pclose);
  hsize_t chunk[3] = {0, 0, 0};
  if (!plist.ok() || H5Pget_layout(plist.id) != H5D_CHUNKED || H5Pget_chunk(plist.id, 3, chunk) != 3) return false;
  if (chunk[0] != 1 || chunk[1] != dims[1] || chunk[2] != dims[2]) return false;
  const int filters = H5Pget_nfilters(plist.id);
  for (int f = 0; f < filters; ++f) {
    unsigned flags = 0, config = 0;
    std::size_t nvalues = 8;
    unsigned values[8] = {};
    char name[64] = {};
    const H5Z_filter_t id = H5Pget_filter2(plist.id, static_cast<unsigned>(f), &flags, &nvalues, values, sizeof name, name, &config);
    if (id == H5Z_FILTER_SHUFFLE && f == 0) {
      p.shuffled = true;
    } else if (id == H5Z_FILTER_DEFLATE && !p.deflated) {
      p.deflated = true;
    } else {
      return false;
    }
  }
  return true;
}

[[noreturn]] void undecodable(const ChunkRequest& r, int variable, std::int32_t layer, const std::string& why) {
  Error e(ErrorCode::cannot_open, "read_domain_file",
          r.path + ": layer " + std::to_string(layer) + " of " + r.variables[variable] + " cannot be decoded (" + why + ")");
  e.file = r.path;
  throw e;
}

// One stored chunk: its bytes as read and which filters were skipped for it.
struct Chunk {
  std::vector<unsigned char> bytes;
  std::uint32_t skipped = 0;  // bit f: filter f of the pipeline not applied
  bool written = false;
};

void inflate_into(const Chunk& c, std::span<unsigned char> out, const ChunkRequest& r, int v, std::int32_t k) {
  uLongf size = static_cast<uLongf>(out.size());
  const int status = uncompress(out.data(), &size, c.bytes.data(), static_cast<uLong>(c.bytes.size()));
  if (status != Z_OK || size != out.size()) undecodable(r, v, k, "deflate: " + std::string(zError(status)));
}

// HDF5's shuffle: the first bytes of every value, then the second bytes, ...
// (little-endian floats: each value gathered from the four runs in turn).
void unshuffle(std::span<const unsigned char> in, std::span<float> out) {
  const std::size_t n = out.size();
  const unsigned char* b0 = in.data();
  const unsigned char* b1 = b0 + n;
  const unsigned char* b2 = b1 + n;
  const unsigned char* b3 = b2 + n;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t bits = std::uint32_t{b0[i]} | std::uint32_t{b1[i]} << 8 | std::uint32_t{b2[i]} << 16 |
                               std::uint32_t{b3[i]} << 24;
    std::memcpy(&out[i], &bits, sizeof bits);
  }
}

// Decodes one chunk into its plane, the fill value becoming the marker.
void decode(const Chunk& c, const Pipeline& p, std::span<float> plane, std::vector<unsigned char>& scratch,
            const ChunkRequest& r, int v, std::int32_t k) {
  if (!c.written) {
    std::fill(plane.begin(), plane.end(), r.no_value_marker);
    return;
  }
  const std::span<unsigned char> bytes(reinterpret_cast<unsigned char*>(plane.data()), plane.size_bytes());
  const std::uint32_t shuffle_bit = 1u, deflate_bit = p.shuffled ? 2u : 1u;
  const bool shuffled = p.shuffled && (c.skipped & shuffle_bit) == 0;
  const bool deflated = p.deflated && (c.skipped & deflate_bit) == 0;
  if (shuffled) {
    scratch.resize(bytes.size());
    if (deflated) {
      inflate_into(c, scratch, r, v, k);
    } else if (c.bytes.size() == bytes.size()) {
      std::memcpy(scratch.data(), c.bytes.data(), bytes.size());
    } else {
      undecodable(r, v, k, "a chunk of another size than the plane");
    }
    unshuffle(scratch, plane);
  } else if (deflated) {
    inflate_into(c, bytes, r, v, k);
  } else if (c.bytes.size() == bytes.size()) {
    std::memcpy(bytes.data(), c.bytes.data(), bytes.size());
  } else {
    undecodable(r, v, k, "a chunk of another size than the plane");
  }
  for (float& x : plane) {
    if (x == r.fill) x = r.no_value_marker;
  }
}

}  // namespace

void quiet_hdf5_errors() { H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr); }

bool read_layer_chunks(const ChunkRequest& r) {
  quiet_hdf5_errors();  // failures are answered here, not printed
  const Handle file(H5Fopen(r.path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT), H5Fclose);
  if (!file.ok()) return false;
  std::optional<Handle> opened[3];
  hid_t datasets[3];
  Pipeline pipelines[3];
  for (int v = 0; v < 3; ++v) {
    opened[v].emplace(H5Dopen2(file.id, r.variables[v].c_str(), H5P_DEFAULT), H5Dclose);
    datasets[v] = opened[v]->id;
    if (!opened[v]->ok() || !known_storage(datasets[v], r, pipelines[v])) return false;
  }
  const std::size_t plane = static_cast<std::size_t>(r.nlat * r.nlon);
  // Chunks are read a batch at a time (the library on one thread) and
  // decoded side by side, each thread with its own scratch buffer.
  const std::int64_t total = 3 * std::int64_t{r.last - r.first + 1};
  const std::int64_t batch = 2 * std::int64_t{std::max(1, r.threads)};
  std::vector<Chunk> chunks(static_cast<std::size_t>(batch));
  std::vector<std::vector<unsigned char>> scratch(static_cast<std::size_t>(batch));
  for (std::int64_t first = 0; first < total; first += batch) {
    const std::int64_t n = std::min(batch, total - first);
    for (std::int64_t b = 0; b < n; ++b) {
      const std::int64_t t = first + b;
      const int v = static_cast<int>(t % 3);
      const std::int32_t k = r.first + static_cast<std::int32_t>(t / 3);
      const hsize_t offset[3] = {static_cast<hsize_t>(k - 1), 0, 0};
      Chunk& c = chunks[static_cast<std::size_t>(b)];
      hsize_t stored = 0;
      c.written = H5Dget_chunk_storage_size(datasets[v], offset, &stored) >= 0 && stored > 0;
      if (!c.written) continue;
      c.bytes.resize(static_cast<std::size_t>(stored));
      if (H5Dread_chunk(datasets[v], H5P_DEFAULT, offset, &c.skipped, c.bytes.data()) < 0) {
        return false;
      }
    }
    parallel_for(n, r.threads, [&](std::int64_t b) {
      const std::int64_t t = first + b;
      const int v = static_cast<int>(t % 3);
      const std::int32_t k = r.first + static_cast<std::int32_t>(t / 3);
      const std::span<float> out = r.out.subspan(static_cast<std::size_t>(t) * plane, plane);
      decode(chunks[static_cast<std::size_t>(b)], pipelines[v], out, scratch[static_cast<std::size_t>(b)], r, v, k);
    });
  }
  return true;
}

}  // namespace kelvo::io
