// The decorrelation scales of one parameter: three gridded scale files (x, y,
// t) per layer of the range, then one exponent file per component.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "kelvo_mod/domain_state.hpp"
#include "kelvo_mod/reporter.hpp"

namespace kelvo {

// Names of the files, blank-padded (or cut) to 255 characters. `level` is
// the level number, written in two digits (two asterisks beyond 99).
std::string scale_file_name(const DomainState& ds, std::string_view domain, std::string_view param,
                            std::int32_t level, std::int32_t component);
std::string power_file_name(const DomainState& ds, std::string_view domain, std::string_view param,
                            std::int32_t component);

// Parses the first values.size() eight-column fields of a line into
// `values`; missing columns read as blanks. False on a field that is not a
// number.
bool parse_scale_row(std::string_view line, std::span<float> values);

// Reads the scale files of layers level_start..level_end and the exponent
// files of the state's domain and parameter, printing a summary line per
// scale file and the name of each exponent file. The scale files are read
// side by side on `threads` threads; their lines come out in file order and
// a failure ends the run with the message of the first failing file, as on
// one thread.
void get_grid(Reporter& out, DomainState& ds, int threads = 1);

}  // namespace kelvo
