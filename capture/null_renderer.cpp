#include "capture/null_renderer.h"

namespace capture {

class NullRendererFilter::InputPin final : public InputPinBase {
 public:
  InputPin(NullRendererFilter& renderer) : InputPinBase(renderer, u"In"), renderer_(renderer) {}
  HRESULT QueryAccept(const MediaType&) override { return S_OK; }
  HRESULT Receive(MediaSample&) override {
    renderer_.rendered_.fetch_add(1);
    return S_OK;
  }

 private:
  NullRendererFilter& renderer_;
};

NullRendererFilter::NullRendererFilter() : input_(std::make_unique<InputPin>(*this)) {}
NullRendererFilter::~NullRendererFilter() = default;

PinBase* NullRendererFilter::PinAt(int index) { return index == 0 ? input_.get() : nullptr; }

}  // namespace capture
