#include "stereo/rectification_maps.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

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

// The library's XML reader hangs or crashes on some damaged files (a truncated declaration, NUL
// bytes, a damaged binary block), so a map file is checked first to be plain, well-formed XML of the
// kind map files are: a declaration, then elements with attributes, text and comments, properly
// nested. Binary (base64) nodes are refused: maps are written as text. Empty when the text passes,
// otherwise why not.
std::string CheckXmlText(const std::string& text) {
  constexpr int kMaxDepth = 32;
  std::size_t i = 0;
  const std::size_t n = text.size();
  auto isNameStart = [](char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; };
  auto isNameChar = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.' || c == ':';
  };
  auto skipSpace = [&] {
    while (i < n && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) ++i;
  };
  auto readName = [&](std::string* name) {
    if (i >= n || !isNameStart(text[i])) return false;
    const std::size_t from = i;
    while (i < n && isNameChar(text[i])) ++i;
    *name = text.substr(from, i - from);
    return true;
  };
  // Attributes up to the end of a tag; true when they are all name="value" (or 'value').
  auto readAttributes = [&]() -> std::string {
    for (;;) {
      const std::size_t before = i;
      skipSpace();
      if (i >= n) return "a tag is not closed";
      if (text[i] == '>' || text[i] == '/' || text[i] == '?') return {};
      std::string name;
      if (i == before || !readName(&name)) return "a tag holds something other than attributes";
      skipSpace();
      if (i >= n || text[i] != '=') return "an attribute has no value";
      ++i;
      skipSpace();
      if (i >= n || (text[i] != '"' && text[i] != '\'')) return "an attribute value is not quoted";
      const char quote = text[i++];
      const std::size_t close = text.find(quote, i);
      if (close == std::string::npos) return "an attribute value is not closed";
      const std::string value = text.substr(i, close - i);
      if (value.find_first_of("<&") != std::string::npos) return "an attribute value holds markup";
      if (name == "type_id" && value != "opencv-matrix" && value != "opencv-nd-matrix")
        return "holds a node that is not a plain matrix (binary data?)";
      i = close + 1;
    }
  };

  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r')
      return c == '\0' ? "holds NUL bytes: not a text file" : "holds control characters: not a text file";
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) i = 3;
  skipSpace();
  if (text.compare(i, 5, "<?xml") != 0) return "does not start with an XML declaration";
  i += 5;
  if (std::string why = readAttributes(); !why.empty()) return why;
  if (text.compare(i, 2, "?>") != 0) return "the XML declaration is not closed";
  i += 2;

  std::vector<std::string> open;
  bool rootSeen = false;
  while (i < n) {
    if (text[i] != '<') {
      if (open.empty()) {
        if (!std::isspace(static_cast<unsigned char>(text[i]))) return "text outside the root element";
        ++i;
        continue;
      }
      if (text[i] == '&') {
        const std::size_t semicolon = text.find(';', i);
        if (semicolon == std::string::npos || semicolon - i > 10) return "a stray '&'";
        const std::string entity = text.substr(i + 1, semicolon - i - 1);
        const bool named = entity == "lt" || entity == "gt" || entity == "amp" || entity == "quot" || entity == "apos";
        const bool numeric =
            entity.size() > 1 && entity[0] == '#' && entity.find_first_not_of("0123456789", 1) == std::string::npos;
        if (!named && !numeric) return "an unknown entity";
        i = semicolon + 1;
        continue;
      }
      ++i;
      continue;
    }
    if (text.compare(i, 4, "<!--") == 0) {
      const std::size_t end = text.find("-->", i + 4);
      if (end == std::string::npos) return "a comment is not closed";
      i = end + 3;
      continue;
    }
    if (text.compare(i, 2, "</") == 0) {
      i += 2;
      std::string name;
      if (!readName(&name)) return "a closing tag has no name";
      skipSpace();
      if (i >= n || text[i] != '>') return "a closing tag is not closed";
      ++i;
      if (open.empty() || open.back() != name) return "tags are not properly nested";
      open.pop_back();
      continue;
    }
    ++i;
    std::string name;
    if (!readName(&name)) return "a tag has no name";
    if (open.empty() && rootSeen) return "more than one root element";
    if (std::string why = readAttributes(); !why.empty()) return why;
    if (text.compare(i, 2, "/>") == 0) {
      i += 2;
      rootSeen = true;
      continue;
    }
    if (i >= n || text[i] != '>') return "a tag is not closed";
    ++i;
    open.push_back(name);
    rootSeen = true;
    if (static_cast<int>(open.size()) > kMaxDepth) return "elements are nested too deeply";
  }
  if (!open.empty()) return "the file ends inside an element (truncated?)";
  if (!rootSeen) return "no root element";
  return {};
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
  {
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) return Fail(reason, "cannot be read");
    if (const std::string why = CheckXmlText(text); !why.empty()) return Fail(reason, why);
  }
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
      return Fail(reason, "size " + std::to_string(fileCols) + " x " + std::to_string(fileRows) + ", expected " +
                              std::to_string(cols) + " x " + std::to_string(rows));
    if (!dataNode.isSeq() || dataNode.size() != static_cast<size_t>(rows) * cols)
      return Fail(reason, "holds " + std::to_string(dataNode.isSeq() ? dataNode.size() : 0) + " values, expected " +
                              std::to_string(static_cast<size_t>(rows) * cols));
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
