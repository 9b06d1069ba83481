// The frame reader as the acquisition loop sees it while "Work Offline" processes a recorded file.
#pragma once

#include <QImage>
#include <QWidget>
#include <string>

class OfflineFrames {
  public:
    virtual ~OfflineFrames() = default;
    // Hands out the frame read last (frame()) and reads the next one; the index advances by one.
    virtual void step() = 0;
    // The frame handed out by the last step (the reader's bitmap).
    virtual QImage frame() const = 0;
    virtual int frameIndex() const = 0;
    virtual void setFrameIndex(int index) = 0;
    virtual int frameCount() const = 0;
    // Closes the file and releases the reader.
    virtual void close() = 0;
    // Hides the reader window.
    virtual void hideWindow() = 0;
    // Opens a movie for stepping (the reader's HeadAVI); throws with the reader's message when it cannot.
    virtual void open(const std::string&) {}
    // True while a movie is open.
    virtual bool isOpen() const { return true; }
    virtual void showWindow() {}
};

// No file open: steps hand out nothing and the count is 0, so a run ends at its first tick.
class NoOfflineFrames : public OfflineFrames {
  public:
    void step() override { ++index_; }
    QImage frame() const override { return QImage(); }
    int frameIndex() const override { return index_; }
    void setFrameIndex(int index) override { index_ = index; }
    int frameCount() const override { return 0; }
    void close() override {}
    void hideWindow() override {}
    bool isOpen() const override { return false; }

  private:
    int index_ = 0;
};

// The AVI frame reader and its window Form3, with the reader's process-wide state.
class ReaderOfflineFrames : public OfflineFrames {
  public:
    void step() override;
    QImage frame() const override;
    int frameIndex() const override;
    void setFrameIndex(int index) override;
    int frameCount() const override;
    void close() override;
    void hideWindow() override;
    void open(const std::string& fileName) override;
    bool isOpen() const override;
    void showWindow() override;
};
