// The texts of the console lines and stop messages that scripts and users of
// the replaced tool read. They are kept exactly as that tool printed them,
// spelling included ("leves", "Too many files in list", and "write_grid" as
// the operation named when the summary cannot be opened): changing one byte
// here changes what the tool prints.
#pragma once

#include <string_view>

namespace kelvo::legacy::text {

// Command line.
inline constexpr std::string_view usage_head = "\nusage: ";
inline constexpr std::string_view usage_tail =
    " Domain[NsBs, VARO, IBIROOS, MEdit, BlackSea  Par[salt,temp] level_start level_end \n\n";
inline constexpr std::string_view layer_range = "Program Running on selected leves from ";

// Allocation, grid and water points.
inline constexpr std::string_view allocating = "allocating with nlon,nlat,nz: ";
inline constexpr std::string_view water_points = "ilayer, Npoints: ";
inline constexpr std::string_view no_year_zero = "There are no year 0!!";

// Scale and exponent files.
inline constexpr std::string_view open_error = "Error in opening file***";
inline constexpr std::string_view end_of_file = "End of file reached, ilat: ";
inline constexpr std::string_view read_error = "Error when reading file***";

// Metadata list.
inline constexpr std::string_view nobs_in_metadata = "Nobs in metadata ";
inline constexpr std::string_view list_full = "Error !! Too many files in list, tmp array limit reached: i,maxnf ";
inline constexpr std::string_view no_par_match = "No par match in metadata: i,salt,temp,param:";
inline constexpr std::string_view error_in_times = "Error in times: jday , jdayaxis(min)";
inline constexpr std::string_view no_depth_assignment = " No depth assignment";

// Coverage.
inline constexpr std::string_view assessing = "Assessing ilayer: ";
inline constexpr std::string_view layer_result = " Ilayer, Nwater, Ksum, Kpct : ";

// Stop messages: the head of each, and the texts after it.
inline constexpr std::string_view grid_open_error = "Error in opening file (";
inline constexpr std::string_view grid_end_of_file = "End of file before line ";
inline constexpr std::string_view grid_not_a_number = "Field not a number in line ";
inline constexpr std::string_view grid_sizes = "Invalid grid sizes in ";
inline constexpr std::string_view grid_sizes_values = " nlon,nlat,nz: ";
inline constexpr std::string_view grid_sizes_range = "(nlon, nlat >= 1; 1 <= nz <= 9999)";
inline constexpr std::string_view layer_range_outside = "Layer range outside the grid: level_start, level_end, nz: ";
inline constexpr std::string_view bad_date = "Date text is not four integers in ";
inline constexpr std::string_view out_of_memory = "Out of memory";
inline constexpr std::string_view map_name_too_long = "Map file name too long: ";
inline constexpr std::string_view map_written = "Coverage map written to ";

// Summary file: its operation name when it cannot be opened, and its lines.
inline constexpr std::string_view summary_open_operation = "write_grid";
inline constexpr std::string_view summary_title = "*** Summary from Observational Network assessment ***";
inline constexpr std::string_view summary_grid = "Grid Setup : west,east,south,north,dlon,dlat:";
inline constexpr std::string_view summary_sizes = "Grid Setup : nlat,nlon,ilayer,ntimes";
inline constexpr std::string_view summary_domain = "Validating model domain : ";
inline constexpr std::string_view summary_parameter = " and parameter ";
inline constexpr std::string_view summary_from = "From layer ";
inline constexpr std::string_view summary_to = " to layer ";
inline constexpr std::string_view summary_rule = "---------------------------------------------";
inline constexpr std::string_view summary_columns = "Ilayer, total number of water points, effective coverage";
inline constexpr std::string_view summary_row = " Ilayer, Nwater, Eff coverage (%) : ";

}  // namespace kelvo::legacy::text
