#include "cli/netcdf_file.h"

#include <netcdf.h>
#include <netcdf_mem.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>

#include "cli/files.h"
#include "cli/interrupt.h"

namespace quorvane::cli {

namespace {

using Json = nlohmann::ordered_json;

// netCDF-C, and the serial HDF5 beneath it, keep global state without
// locks: one file at a time for the whole process.
std::mutex library_lock;

// How writing went: a netCDF status with the part it failed on, or an
// interruption, or neither.
struct Failed {
  int status = NC_NOERR;
  const char* what = "";
  bool interrupted = false;
};

int put_attribute(int ncid, const std::string& name, const Json& value) {
  switch (value.type()) {
    case Json::value_t::string: {
      const auto& text = value.get_ref<const std::string&>();
      return nc_put_att_text(ncid, NC_GLOBAL, name.c_str(), text.size(), text.data());
    }
    case Json::value_t::boolean: {
      const signed char flag = value.get<bool>() ? 1 : 0;
      return nc_put_att_schar(ncid, NC_GLOBAL, name.c_str(), NC_BYTE, 1, &flag);
    }
    case Json::value_t::number_integer: {
      const long long number = value.get<std::int64_t>();
      return nc_put_att_longlong(ncid, NC_GLOBAL, name.c_str(), NC_INT64, 1, &number);
    }
    case Json::value_t::number_unsigned: {
      const unsigned long long number = value.get<std::uint64_t>();
      if (number <= static_cast<unsigned long long>(std::numeric_limits<long long>::max())) {
        const long long fits = static_cast<long long>(number);
        return nc_put_att_longlong(ncid, NC_GLOBAL, name.c_str(), NC_INT64, 1, &fits);
      }
      return nc_put_att_ulonglong(ncid, NC_GLOBAL, name.c_str(), NC_UINT64, 1, &number);
    }
    case Json::value_t::number_float: {
      const double number = value.get<double>();
      return nc_put_att_double(ncid, NC_GLOBAL, name.c_str(), NC_DOUBLE, 1, &number);
    }
    case Json::value_t::array: {
      bool numbers = !value.empty();
      for (const Json& item : value) numbers = numbers && (item.is_number() || item.is_null());
      if (numbers) {
        std::vector<double> list;
        for (const Json& item : value)
          list.push_back(item.is_null() ? std::nan("") : item.get<double>());
        return nc_put_att_double(ncid, NC_GLOBAL, name.c_str(), NC_DOUBLE, list.size(),
                                 list.data());
      }
      std::string text;
      for (const Json& item : value)
        text += (text.empty() ? "" : ", ") + (item.is_string() ? item.get<std::string>() : item.dump());
      return nc_put_att_text(ncid, NC_GLOBAL, name.c_str(), text.size(), text.data());
    }
    default:
      return NC_NOERR;
  }
}

int put_attributes(int ncid, const std::string& prefix, const Json& object) {
  for (const auto& [key, value] : object.items()) {
    const std::string name = prefix.empty() ? key : prefix + "_" + key;
    const int status =
        value.is_object() ? put_attributes(ncid, name, value) : put_attribute(ncid, name, value);
    if (status != NC_NOERR) return status;
  }
  return NC_NOERR;
}

// Defines the file's dimension, variables and attributes, then writes the
// values in blocks of rows, looking for an interruption between them.
Failed fill(int ncid, const std::vector<Column>& columns, const std::string& dimension,
            const Json& attributes, const MemberVariables* members) {
  const std::size_t rows = columns.empty() ? 0 : columns.front().size();
  int old_mode = 0, dimid = 0;
  // Every value is written, so the library need not fill the variables first.
  if (int s = nc_set_fill(ncid, NC_NOFILL, &old_mode); s != NC_NOERR) return {s, "set_fill"};
  if (int s = nc_def_dim(ncid, dimension.c_str(), rows, &dimid); s != NC_NOERR)
    return {s, "the dimension"};
  std::vector<int> ids(columns.size());
  for (std::size_t c = 0; c < columns.size(); ++c) {
    const nc_type type = columns[c].values.empty() && !columns[c].wide.empty() ? NC_DOUBLE : NC_FLOAT;
    if (int s = nc_def_var(ncid, columns[c].header.c_str(), type, 1, &dimid, &ids[c]);
        s != NC_NOERR)
      return {s, "a variable"};
    // Uncompressed and written once whole: contiguous storage is the fastest.
    if (rows > 0) {
      if (int s = nc_def_var_chunking(ncid, ids[c], NC_CONTIGUOUS, nullptr); s != NC_NOERR)
        return {s, "a variable"};
    }
  }
  int member_dim = 0, coordinate = 0;
  std::vector<int> matrix_ids;
  if (members != nullptr) {
    if (int s = nc_def_dim(ncid, members->dimension.c_str(), members->coordinate.size(), &member_dim);
        s != NC_NOERR)
      return {s, "the member dimension"};
    if (int s = nc_def_var(ncid, members->dimension.c_str(), NC_DOUBLE, 1, &member_dim, &coordinate);
        s != NC_NOERR)
      return {s, "a variable"};
    const int dims[2] = {member_dim, dimid};
    for (const Column& matrix : members->matrices) {
      matrix_ids.push_back(0);
      if (int s = nc_def_var(ncid, matrix.header.c_str(), NC_FLOAT, 2, dims, &matrix_ids.back());
          s != NC_NOERR)
        return {s, "a variable"};
    }
  }
  if (int s = put_attributes(ncid, "", attributes); s != NC_NOERR) return {s, "an attribute"};
  if (int s = nc_enddef(ncid); s != NC_NOERR) return {s, "the header"};
  constexpr std::size_t kBlock = std::size_t{1} << 18;
  for (std::size_t c = 0; c < columns.size(); ++c) {
    const Column& column = columns[c];
    for (std::size_t start = 0; start < rows; start += kBlock) {
      if (interruption() != 0) return {NC_NOERR, "", true};
      const std::size_t count = std::min(kBlock, rows - start);
      const int s = column.values.empty()
                        ? nc_put_vara_double(ncid, ids[c], &start, &count, column.wide.data() + start)
                        : nc_put_vara_float(ncid, ids[c], &start, &count, column.values.data() + start);
      if (s != NC_NOERR) return {s, "the values"};
    }
  }
  if (members != nullptr) {
    if (int s = nc_put_var_double(ncid, coordinate, members->coordinate.data()); s != NC_NOERR)
      return {s, "the values"};
    for (std::size_t m = 0; m < matrix_ids.size(); ++m) {
      const std::span<const float> values = members->matrices[m].values;
      for (std::size_t member = 0; member < members->coordinate.size(); ++member) {
        if (interruption() != 0) return {NC_NOERR, "", true};
        const std::size_t start[2] = {member, 0}, count[2] = {1, rows};
        if (int s = nc_put_vara_float(ncid, matrix_ids[m], start, count,
                                      values.data() + member * rows);
            s != NC_NOERR)
          return {s, "the values"};
      }
    }
  }
  return {};
}

}  // namespace

bool write_netcdf_atomically(const std::string& path, const std::vector<Column>& columns,
                             const std::string& dimension, const Json& attributes,
                             std::string& error, const MemberVariables* members) {
  // The library builds the file in memory and this program writes its
  // bytes, as every other result file: a full disk or any other failed
  // write then comes back with its own cause, the temporary file is closed
  // and removed, and the library (HDF5 beneath it) never holds a
  // half-written file open, which would keep its space taken and poison
  // every later file of the run.
  Failed failed;
  NC_memio image{};
  {
    const std::lock_guard<std::mutex> hold(library_lock);
    int ncid = -1;
    if (int s = nc_create_mem(path.c_str(), NC_NETCDF4 | NC_CLOBBER, 0, &ncid); s != NC_NOERR) {
      failed = {s, "the file"};
    } else {
      failed = fill(ncid, columns, dimension, attributes, members);
      const int closed = nc_close_memio(ncid, &image);
      if (failed.status == NC_NOERR && !failed.interrupted && closed != NC_NOERR)
        failed = {closed, "the file"};
    }
  }
  // The image is the library's allocation, given back with free().
  const std::unique_ptr<void, void (*)(void*)> owned(image.memory, std::free);
  if (failed.status != NC_NOERR) {
    error = "cannot write " + path + ": " + failed.what + ": " + nc_strerror(failed.status);
    return false;
  }
  if (failed.interrupted) {
    error = "cannot write " + path + ": the run was interrupted";
    return false;
  }
  const char* bytes = static_cast<const char*>(image.memory);
  std::size_t written = 0;
  return write_file_atomically(
      path,
      [&](std::string& piece) {
        constexpr std::size_t kPieceBytes = std::size_t{1} << 20;
        if (written >= image.size) return false;
        const std::size_t count = std::min(kPieceBytes, image.size - written);
        piece.assign(bytes + written, count);
        written += count;
        return true;
      },
      error);
}

}  // namespace quorvane::cli
