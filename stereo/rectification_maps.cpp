#include "stereo/rectification_maps.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace stereo {

namespace {

bool Fail(std::string* reason, const std::string& text) {
  if (reason) *reason = text;
  return false;
}

// The matrix's node name: the file name up to its first dot ("mx1" for "mx1.xml", also for a staging
// name such as ".mx1.xml.new"), restricted to what the XML writer accepts as a key.
std::string NodeName(const std::string& path) {
  std::string name = std::filesystem::path(path).filename().string();
  name.erase(0, name.find_first_not_of('.'));
  name = name.substr(0, name.find('.'));
  std::string key;
  for (char c : name)
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-') key += c;
  if (key.empty() || !std::isalpha(static_cast<unsigned char>(key[0]))) key = "map" + key;
  return key;
}

// Pushes the file's contents to the disk, so that the rename that follows never exposes a file
// whose data a crash could still lose.
bool SyncFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
  return synced;
}

}  // namespace

bool LoadMap(const std::string& path, int rows, int cols, cv::Mat* map, std::string* reason) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return Fail(reason, "file not found");
  try {
    cv::FileStorage storage(path, cv::FileStorage::READ | cv::FileStorage::FORMAT_XML);
    if (!storage.isOpened()) return Fail(reason, "not an XML matrix file");
    cv::FileNode node = storage.getFirstTopLevelNode();
    if (node.empty() || !node.isMap()) return Fail(reason, "the first node is not a matrix");
    cv::FileNode rowsNode = node["rows"], colsNode = node["cols"], dtNode = node["dt"];
    cv::FileNode dataNode = node["data"];
    if (!rowsNode.isInt() || !colsNode.isInt() || !dtNode.isString() || dataNode.empty())
      return Fail(reason, "the first node is not a matrix");
    const int fileRows = static_cast<int>(rowsNode), fileCols = static_cast<int>(colsNode);
    const std::string dt = static_cast<std::string>(dtNode);
    if (dt != "f") return Fail(reason, "elements are '" + dt + "', not single-channel 32-bit float");
    if (fileRows != rows || fileCols != cols)
      return Fail(reason, "size " + std::to_string(fileCols) + " x " + std::to_string(fileRows) +
                              ", expected " + std::to_string(cols) + " x " + std::to_string(rows));
    if (!dataNode.isSeq() || dataNode.size() != static_cast<size_t>(rows) * cols)
      return Fail(reason, "holds " + std::to_string(dataNode.isSeq() ? dataNode.size() : 0) +
                              " values, expected " + std::to_string(static_cast<size_t>(rows) * cols));
    cv::Mat loaded;
    node >> loaded;
    if (loaded.type() != CV_32FC1 || loaded.rows != rows || loaded.cols != cols)
      return Fail(reason, "could not be read as a matrix");
    *map = loaded;
    return true;
  } catch (const cv::Exception& e) {
    return Fail(reason, "malformed: " + std::string(e.err));
  } catch (const std::exception& e) {
    return Fail(reason, std::string("malformed: ") + e.what());
  }
}

bool SaveMap(const std::string& path, const cv::Mat& map, std::string* reason) {
  if (map.empty() || map.type() != CV_32FC1) return Fail(reason, "not a single-channel float map");
  const std::string temporary = path + ".tmp";
  try {
    cv::FileStorage storage(temporary, cv::FileStorage::WRITE | cv::FileStorage::FORMAT_XML);
    if (!storage.isOpened()) return Fail(reason, "cannot write " + temporary);
    storage << NodeName(path) << map;
    storage.release();
  } catch (const cv::Exception& e) {
    std::remove(temporary.c_str());
    return Fail(reason, "cannot write " + temporary + ": " + e.err);
  } catch (const std::exception& e) {
    std::remove(temporary.c_str());
    return Fail(reason, "cannot write " + temporary + ": " + e.what());
  }
  // The writer does not report failed writes (a full disk, for one): read back what arrived, as the
  // viewer will, before it may replace a good map.
  cv::Mat check;
  std::string readBack;
  if (!LoadMap(temporary, map.rows, map.cols, &check, &readBack) || !SyncFile(temporary)) {
    std::remove(temporary.c_str());
    return Fail(reason, "cannot write " + temporary + (readBack.empty() ? "" : ": " + readBack));
  }
  std::error_code ec;
  std::filesystem::rename(temporary, path, ec);
  if (ec) {
    std::remove(temporary.c_str());
    return Fail(reason, "cannot move the map into place: " + ec.message());
  }
  return true;
}

void MakeIdentityMaps(int rows, int cols, cv::Mat* mapX, cv::Mat* mapY) {
  mapX->create(rows, cols, CV_32FC1);
  mapY->create(rows, cols, CV_32FC1);
  for (int r = 0; r < rows; ++r) {
    float* x = mapX->ptr<float>(r);
    float* y = mapY->ptr<float>(r);
    for (int c = 0; c < cols; ++c) {
      x[c] = static_cast<float>(c);
      y[c] = static_cast<float>(r);
    }
  }
}

}  // namespace stereo
