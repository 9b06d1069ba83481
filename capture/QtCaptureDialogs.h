// The driver's format and source dialogs as Qt dialogs, modal over the capture window.
#pragma once

#include "capture/CaptureDriver.h"

class QWidget;

namespace kestrane {

class QtCaptureDialogs : public CaptureDialogs {
  public:
    explicit QtCaptureDialogs(QWidget* parent = nullptr) : parent_(parent) {}

    int chooseFormat(const std::vector<FormatOption>& options, int currentIndex) override;
    void adjustSource(const std::vector<SourceControl>& controls,
                      const std::function<void(std::uint32_t id, std::int32_t value)>& apply) override;

  private:
    QWidget* parent_;
};

} // namespace kestrane
