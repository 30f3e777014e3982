// The domain file: a whole domain in one CF-1.8 NetCDF file, every
// parameter it has, as `kelvo domain convert` and `kelvo domain create`
// write it and every assessing command reads it (`--domain FILE.nc`).
//
//   dimensions  lon, lat, layer
//   lon(lon), lat(lat)          the grid's axes (degrees east, north)
//   layer(layer), levnum(layer) layer index (1 uppermost) and level number
//   depth(layer)                depth of the layer in metres, when known
//   <P>_scale_x|y|t(layer, lat, lon)  float scale coefficients of parameter P,
//                               _FillValue where there is no value (land)
//   <P>_power_x|y|t(layer)      the layer's exponents
//   global attributes           Conventions, title, domain, parameters,
//                               west, east, south, north, dlon, dlat (the
//                               edges and steps of the grid configuration)
//                               and longitude_periodic (1 when longitude
//                               wraps round)
//
// Scale planes are chunked one layer at a time and compressed (shuffle and
// deflate), so that a run reads only the layers it assesses, each with one
// read per component.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/domain.hpp"
#include "io/domain_tree.hpp"
#include "io/netcdf.hpp"

namespace kelvo::io {

// What a domain file holds, without its scale planes.
struct DomainFileHeader {
  std::string path;
  std::string name;                      // the domain's name
  Grid grid;                             // axes, levels, depths, edges, steps, periodic
  std::vector<std::string> parameters;   // in the file's order
  std::string title;
  std::string history;
};

// Whether `path` names a domain file rather than a domain of a tree: it
// ends in ".nc" or holds a "/".
bool names_domain_file(std::string_view path);

// The header of the domain file at `path`. Errors (operation
// "read_domain_file"): cannot_open (no such file, not NetCDF), bad_grid
// (axes missing or of other lengths than their dimensions, no layer),
// bad_request (a parameter's variables incomplete or of the wrong shape).
DomainFileHeader read_domain_header(const std::string& path);

// The domain of parameter `param` for layers first..last (inside the grid;
// an Error bad_layers otherwise), read layer by layer: only those layers'
// planes are ever held. Where a plane holds its _FillValue (or a value that
// is not a number) the scale has no value. Planes stored as kelvo writes
// them are decoded on `threads` threads (io/domain_chunks.hpp).
Domain read_domain_file(const DomainFileHeader& header, std::string_view param, std::int32_t first,
                        std::int32_t last, int threads = 1);

// A domain to write: the grid, its parameters with their exponents (one
// set per layer), and `planes`, called for each parameter and layer in turn
// (layer 1 first) to fill that layer's planes (no_value where there is none).
struct DomainFileContents {
  std::string name;
  Grid grid;
  std::vector<std::string> parameters;
  std::vector<std::vector<Exponents>> exponents;  // per parameter, nz
  PlaneSource planes;
  std::string title;
  std::string source;    // the command or program that made it
  std::string history;   // time and command line
  std::string comment;   // how it was made (a bathymetry's rule, a tree)
  int deflate_level = 1;  // 0: not compressed
};

// The domain `name` of the tree at `scale_dir` (ending in "/") on `grid`,
// every parameter with files, as contents for a domain file: each layer is
// read from its scale files when it is written, on `threads` threads. A
// layer of a parameter whose three scale files are not all there (a tree may
// hold only the layers an operational run assesses) is written without
// values and named in `without` ("salt 3"), when given.
DomainFileContents tree_contents(const std::string& scale_dir, const std::string& name, Grid grid, int threads,
                                 std::vector<std::string>* without = nullptr);

// Writes the domain file at `path` through a temporary name, only one layer
// of one parameter held at a time. Errors: cannot_write.
void write_domain_file(const std::string& path, const DomainFileContents& contents);

// Checks `contents` (an Error bad_request naming `path` when they do not fit
// the grid), then defines and fills the domain file in the open file `f`:
// the body of write_domain_file, also run in memory by the Python module.
void fill_domain_file(const NcFile& f, const std::string& path, const DomainFileContents& contents);

}  // namespace kelvo::io
