#include "stereo/rectification_maps.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>

#include <pugixml.hpp>

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

bool IsNameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.' || c == ':';
}

// Names as the library's reader takes them: a letter or '_', then letters, digits and "_-.:".
bool IsName(std::string_view name) {
  return !name.empty() && IsNameStart(name[0]) && std::all_of(name.begin() + 1, name.end(), IsNameChar);
}

// Entity references in text: the five named ones and decimal ones ("&lt;", "&#38;") only.
std::string CheckEntities(std::string_view text) {
  for (std::size_t amp = text.find('&'); amp != std::string_view::npos; amp = text.find('&', amp + 1)) {
    const std::size_t semicolon = text.find(';', amp);
    if (semicolon == std::string_view::npos || semicolon - amp > 10) return "a stray '&'";
    const std::string_view entity = text.substr(amp + 1, semicolon - amp - 1);
    const bool named = entity == "lt" || entity == "gt" || entity == "amp" || entity == "quot" || entity == "apos";
    const bool numeric =
        entity.size() > 1 && entity[0] == '#' && entity.find_first_not_of("0123456789", 1) == std::string_view::npos;
    if (!named && !numeric) return "an unknown entity";
  }
  return {};
}

std::string CheckAttributes(const pugi::xml_node& node) {
  for (const pugi::xml_attribute& attribute : node.attributes()) {
    const std::string_view name = attribute.name(), value = attribute.value();
    if (!IsName(name)) return "a tag holds something other than attributes";
    if (value.find_first_of("<&") != std::string_view::npos) return "an attribute value holds markup";
    if (name == "type_id" && value != "opencv-matrix" && value != "opencv-nd-matrix")
      return "holds a node that is not a plain matrix (binary data?)";
  }
  return {};
}

// An element, its attributes and everything below it, `depth` levels down from the root.
std::string CheckElement(const pugi::xml_node& element, int depth) {
  constexpr int kMaxDepth = 32;
  if (depth > kMaxDepth) return "elements are nested too deeply";
  const std::string_view name = element.name();
  if (!IsName(name))
    return !name.empty() && IsNameStart(name[0]) ? "a tag holds something other than attributes" : "a tag has no name";
  if (std::string why = CheckAttributes(element); !why.empty()) return why;
  for (const pugi::xml_node& child : element.children()) {
    std::string why = child.type() == pugi::node_element  ? CheckElement(child, depth + 1)
                      : child.type() == pugi::node_pcdata ? CheckEntities(child.value())
                                                          : "holds markup other than elements, text and comments";
    if (!why.empty()) return why;
  }
  return {};
}

// The parser stopped at `at`: in a closing tag, or at the end of the file with elements open.
std::string ClosingTagFault(const std::string& text, std::size_t at) {
  std::size_t i = text.rfind("</", at - 1) + 2;
  if (at + 1 >= text.size()) {  // the file ends between tags, or inside the last one
    const std::size_t last = text.rfind('<');
    if (text.find('>', last) != std::string::npos) return "the file ends inside an element (truncated?)";
    if (text.compare(last, 2, "</") != 0)
      return last + 1 < text.size() && IsNameStart(text[last + 1]) ? "a tag is not closed" : "a tag has no name";
    i = last + 2;
  }
  if (i >= text.size() || !IsNameStart(text[i])) return "a closing tag has no name";
  while (i < text.size() && IsNameChar(text[i])) ++i;
  i = text.find_first_not_of(" \t\r\n", i);
  return i != std::string::npos && text[i] == '>' ? "tags are not properly nested" : "a closing tag is not closed";
}

// The library's XML reader hangs or crashes on some damaged files (a truncated declaration, NUL
// bytes, a damaged binary block), so a map file is first read by a strict XML parser and must be
// plain, well-formed XML of the kind map files are: a declaration, then one root element with
// attributes, text and comments, and names, attribute values and entities the library's reader
// knows. Binary (base64) nodes are refused: maps are written as text. Empty when the text passes,
// otherwise why not.
std::string CheckXmlText(const std::string& text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r')
      return c == '\0' ? "holds NUL bytes: not a text file" : "holds control characters: not a text file";
  std::size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  start = std::min(text.find_first_not_of(" \t\r\n", start), text.size());
  if (text.compare(start, 5, "<?xml") != 0) return "does not start with an XML declaration";

  pugi::xml_document document;
  // A fragment, so that text beside the root element is kept and can be refused; entities are left
  // as they are, so that those the library's reader does not know can be.
  const unsigned int options =
      pugi::parse_fragment | pugi::parse_declaration | pugi::parse_doctype | pugi::parse_pi | pugi::parse_cdata;
  const pugi::xml_parse_result parsed = document.load_buffer(text.data(), text.size(), options, pugi::encoding_utf8);
  // The parser keeps what it read before a fault, so faults found in that tree come first in the file
  // and are named first. A broken tag (the last element made) keeps half its attributes: they go.
  if (parsed.status == pugi::status_bad_start_element || parsed.status == pugi::status_bad_attribute) {
    pugi::xml_node broken = document;
    while (broken.last_child().type() == pugi::node_element) broken = broken.last_child();
    while (broken.first_attribute()) broken.remove_attribute(broken.first_attribute());
  }
  int roots = 0;
  for (const pugi::xml_node& node : document.children()) {
    std::string why;
    if (node.type() == pugi::node_declaration && node == document.first_child())
      why = CheckAttributes(node);
    else if (node.type() == pugi::node_pcdata)
      why = "text outside the root element";
    else if (node.type() != pugi::node_element)
      why = "holds markup other than elements, text and comments";
    else
      why = ++roots > 1 ? "more than one root element" : CheckElement(node, 1);
    if (!why.empty()) return why;
  }
  const auto at = static_cast<std::size_t>(std::max<std::ptrdiff_t>(parsed.offset, 0));
  switch (parsed.status) {
    case pugi::status_ok: return roots == 0 ? "no root element" : "";
    case pugi::status_bad_start_element: return "a tag is not closed";
    case pugi::status_bad_attribute: return "a tag holds a malformed attribute";
    case pugi::status_bad_pi: {
      const std::size_t declarationEnd = text.find("?>", start);
      if (declarationEnd == std::string::npos) return "the XML declaration is not closed";
      return at <= declarationEnd ? "a tag holds a malformed attribute"
                                  : "holds markup other than elements, text and comments";
    }
    case pugi::status_bad_comment: return "a comment is not closed";
    case pugi::status_bad_end_element:
    case pugi::status_end_element_mismatch: return ClosingTagFault(text, at);
    case pugi::status_unrecognized_tag: return "a tag has no name";
    default: return std::string("not well-formed XML: ") + parsed.description();
  }
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
