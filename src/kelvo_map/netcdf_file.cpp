#include "kelvo_map/netcdf_file.hpp"

#include "textio/atomic_file.hpp"

namespace kelvo {

bool write_netcdf_file(const std::string& path, std::string& reason, const std::function<void(NcFile&)>& body) {
  // The library writes the file by its name, over the temporary file that
  // AtomicFile created for us.
  textio::AtomicFile file;
  if (!file.create(path, reason)) {
    reason = "create: " + reason;
    return false;
  }
  file.close_descriptor();
  NcFile f;
  if (!check(f, nc_create(file.temp_path().c_str(), NC_NETCDF4 | NC_CLOBBER, &f.ncid), "nc_create")) {
    reason = f.failed_step + ": " + nc_strerror(f.status);
    return false;
  }
  body(f);
  check(f, nc_close(f.ncid), "nc_close");
  if (f.status != NC_NOERR) {
    reason = f.failed_step + ": " + nc_strerror(f.status);
    return false;
  }
  return file.commit(reason);
}

}  // namespace kelvo
