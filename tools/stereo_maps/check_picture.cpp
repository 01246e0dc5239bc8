#include "tools/stereo_maps/check_picture.h"

#include <filesystem>
#include <fstream>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace stereo_maps {

bool Rectify(const cv::Mat& image, const cv::Mat& mapX, const cv::Mat& mapY, cv::Mat* rectified, std::string* reason) {
  if (mapX.size() != image.size() || mapY.size() != image.size() || mapX.type() != CV_32FC1 ||
      mapY.type() != CV_32FC1) {
    *reason = "the maps do not fit the image";
    return false;
  }
  try {
    cv::remap(image, *rectified, mapX, mapY, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar::all(0));
  } catch (const cv::Exception& e) {
    *reason = e.err;
    return false;
  }
  return true;
}

cv::Mat SideBySide(const cv::Mat& left, const cv::Mat& right) {
  auto colour = [](const cv::Mat& image) {
    cv::Mat out;
    if (image.channels() == 1)
      cv::cvtColor(image, out, cv::COLOR_GRAY2BGR);
    else
      out = image;
    return out;
  };
  cv::Mat picture;
  cv::hconcat(colour(left), colour(right), picture);
  for (int y = kGuideSpacing / 2; y < picture.rows; y += kGuideSpacing)
    cv::line(picture, cv::Point(0, y), cv::Point(picture.cols - 1, y), cv::Scalar(0, 255, 0), 1);
  return picture;
}

bool WriteImage(const std::string& path, const cv::Mat& image, std::string* reason) {
  const std::string extension = std::filesystem::path(path).extension().string();
  std::vector<uchar> bytes;
  try {
    if (extension.empty() || !cv::haveImageWriter(path) || !cv::imencode(extension, image, bytes)) {
      *reason = "cannot encode a picture as '" + extension + "' (use .png or .jpg)";
      return false;
    }
  } catch (const cv::Exception& e) {
    *reason = "cannot encode a picture as '" + extension + "' (use .png or .jpg)";
    return false;
  }
  const std::string temporary = path + ".tmp";
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
      std::error_code ec;
      std::filesystem::remove(temporary, ec);
      *reason = "cannot write '" + temporary + "'";
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::rename(temporary, path, ec);
  if (ec) {
    std::filesystem::remove(temporary, ec);
    *reason = "cannot write '" + path + "': " + ec.message();
    return false;
  }
  return true;
}

}  // namespace stereo_maps
