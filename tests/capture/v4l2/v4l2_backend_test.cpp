// The V4L2 device list over the fake kernel: which nodes count, in which order, under which names.
#include "capture/v4l2/v4l2_backend.h"

#include <gtest/gtest.h>

#include "tests/capture/v4l2/v4l2_test_support.h"

namespace capture {
namespace {

using testing::CameraConfig;

std::vector<std::u16string> ListedNames(DeviceBackend& backend, HRESULT* listResult = nullptr) {
  std::unique_ptr<DeviceList> list;
  const HRESULT hr = backend.OpenDeviceList(&list);
  if (listResult) *listResult = hr;
  std::vector<std::u16string> names;
  std::unique_ptr<DeviceEntry> entry;
  while (list && list->Next(&entry) == S_OK) {
    std::u16string name;
    EXPECT_EQ(entry->Probe(), S_OK);
    EXPECT_EQ(entry->ReadFriendlyName(&name), S_OK);
    names.push_back(name);
  }
  return names;
}

FakeV4l2Format Yuyv640() { return FakeFormat(V4L2_PIX_FMT_YUYV, {{640, 480}}); }

TEST(V4l2BackendTest, ListsCaptureNodesInAscendingNodeNumberUnderTheirCardNames) {
  auto kernel = std::make_unique<FakeV4l2System>();
  kernel->AddDevice("/dev/video10", CameraConfig({Yuyv640()}, "Ten"));
  kernel->AddDevice("/dev/video2", CameraConfig({Yuyv640()}, "Two"));
  FakeV4l2DeviceConfig metadata = CameraConfig({}, "Metadata of Two");
  metadata.deviceCaps = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;  // the node beside a UVC camera
  kernel->AddDevice("/dev/video3", metadata);
  FakeV4l2DeviceConfig output = CameraConfig({Yuyv640()}, "Output only");
  output.capabilities = V4L2_CAP_VIDEO_OUTPUT | V4L2_CAP_STREAMING;  // no device_caps: the whole driver's
  kernel->AddDevice("/dev/video0", output);
  kernel->AddDevice("/dev/video9", CameraConfig({Yuyv640()}, "Nine"));
  V4l2Backend backend(std::move(kernel));

  HRESULT hr = E_FAIL;
  EXPECT_EQ(ListedNames(backend, &hr), (std::vector<std::u16string>{u"Two", u"Nine", u"Ten"}));
  EXPECT_EQ(hr, S_OK);
}

TEST(V4l2BackendTest, DeviceCapsDecideOverTheDriverCapabilities) {
  auto kernel = std::make_unique<FakeV4l2System>();
  FakeV4l2DeviceConfig config = CameraConfig({Yuyv640()}, "Driver captures, node does not");
  config.capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE | V4L2_CAP_DEVICE_CAPS;
  config.deviceCaps = V4L2_CAP_META_CAPTURE;
  kernel->AddDevice("/dev/video0", config);
  V4l2Backend backend(std::move(kernel));

  HRESULT hr = E_FAIL;
  EXPECT_TRUE(ListedNames(backend, &hr).empty());
  EXPECT_EQ(hr, S_FALSE);
}

TEST(V4l2BackendTest, NoNodesMeansAnEmptyList) {
  V4l2Backend backend(std::make_unique<FakeV4l2System>());
  std::unique_ptr<DeviceList> list;
  ASSERT_EQ(backend.OpenDeviceList(&list), S_FALSE);
  std::unique_ptr<DeviceEntry> entry;
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->Next(&entry), S_FALSE);
}

TEST(V4l2BackendTest, NamesAreDecodedFromUtf8AndAFullCardFieldNeedsNoTerminator) {
  auto kernel = std::make_unique<FakeV4l2System>();
  kernel->AddDevice("/dev/video0", CameraConfig({Yuyv640()}, "Kamera \xC4\x8D\xC3\xAD\x73lo 1"));  // "Kamera číslo 1"
  kernel->AddDevice("/dev/video1", CameraConfig({Yuyv640()}, std::string(40, 'A')));
  kernel->AddDevice("/dev/video2", CameraConfig({Yuyv640()}, ""));
  V4l2Backend backend(std::move(kernel));

  const std::vector<std::u16string> names = ListedNames(backend);
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[0], u"Kamera \u010D\u00EDslo 1");
  EXPECT_EQ(names[1], std::u16string(32, u'A'));  // the field holds 32 bytes
  EXPECT_EQ(names[2], u"/dev/video2");            // a nameless card goes by its node
}

TEST(V4l2BackendTest, Utf8DecodingReplacesMalformedSequences) {
  EXPECT_EQ(Utf8ToUtf16("abc"), u"abc");
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x93\xB7"), u"\U0001F4F7");        // outside the BMP: a surrogate pair
  EXPECT_EQ(Utf8ToUtf16("a\xC4"), u"a\uFFFD");                      // cut short
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");              // overlong
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80x"), u"\uFFFD\uFFFD\uFFFDx");  // an encoded surrogate
}

TEST(V4l2BackendTest, UnpluggedAndUnopenableNodesAreNotListed) {
  auto kernel = std::make_unique<FakeV4l2System>();
  FakeV4l2Device* gone = kernel->AddDevice("/dev/video0", CameraConfig({Yuyv640()}, "Gone"));
  FakeV4l2Device* locked = kernel->AddDevice("/dev/video1", CameraConfig({Yuyv640()}, "Locked"));
  kernel->AddDevice("/dev/video2", CameraConfig({Yuyv640()}, "Here"));
  gone->Unplug();
  locked->FailOpen(EACCES);
  V4l2Backend backend(std::move(kernel));

  EXPECT_EQ(ListedNames(backend), (std::vector<std::u16string>{u"Here"}));
}

TEST(V4l2BackendTest, BindingOpensTheNodeAndTheFilterClosesItAgain) {
  auto owned = std::make_unique<FakeV4l2System>();
  FakeV4l2System* kernel = owned.get();
  kernel->AddDevice("/dev/video0", CameraConfig({Yuyv640()}));
  V4l2Backend backend(std::move(owned));
  std::unique_ptr<DeviceList> list;
  ASSERT_EQ(backend.OpenDeviceList(&list), S_OK);
  std::unique_ptr<DeviceEntry> entry;
  ASSERT_EQ(list->Next(&entry), S_OK);

  std::shared_ptr<BaseFilter> filter;
  ASSERT_EQ(entry->BindSourceFilter(&filter), S_OK);
  ASSERT_NE(filter, nullptr);
  EXPECT_EQ(kernel->OpenDescriptors(), 1);
  filter.reset();
  EXPECT_EQ(kernel->OpenDescriptors(), 0);
}

TEST(V4l2BackendTest, ANodeThatVanishesBeforeBindingFailsTheBinding) {
  auto owned = std::make_unique<FakeV4l2System>();
  FakeV4l2Device* camera = owned->AddDevice("/dev/video0", CameraConfig({Yuyv640()}));
  V4l2Backend backend(std::move(owned));
  std::unique_ptr<DeviceList> list;
  ASSERT_EQ(backend.OpenDeviceList(&list), S_OK);
  std::unique_ptr<DeviceEntry> entry;
  ASSERT_EQ(list->Next(&entry), S_OK);
  camera->Unplug();

  std::shared_ptr<BaseFilter> filter;
  EXPECT_EQ(entry->BindSourceFilter(&filter), HresultFromErrno(ENOENT));
  EXPECT_EQ(filter, nullptr);
}

}  // namespace
}  // namespace capture
