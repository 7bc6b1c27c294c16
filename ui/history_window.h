#pragma once

// The "IP Updates" window: one flat list of result lines, newest at the top, each with its
// status picture. A filler thread reads the event log; lines of results that arrive meanwhile
// stay above everything it reads.

#include <QIcon>
#include <QTreeWidget>
#include <QWidget>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/event_log.h"
#include "ui/mailbox.h"

namespace quarnel {

class ImageSlots;

class HistoryWindow : public QWidget {
  public:
    using HistoryReader = std::function<std::vector<HistoryEntry>()>;

    HistoryWindow(const ImageSlots& images, HistoryReader reader);
    ~HistoryWindow() override;

    // Starts the filler thread (FillHistoryFromEventLog).
    void StartFiller();
    // A line of a result that just arrived: at the very top.
    void InsertLiveLine(const std::string& line, int imageSlot);
    // Lines read from the event log, newest first: below every live line and every line filled
    // before them.
    void AddFilledLines(const std::vector<HistoryEntry>& entries);

    QTreeWidget& List() { return list_; }
    bool FillerDone() const { return fillerDone_; }

  private:
    void InsertLine(int index, const std::string& line, int imageSlot);

    const ImageSlots& images_;
    HistoryReader reader_;
    QTreeWidget list_;
    int liveLines_ = 0;
    int filledLines_ = 0;
    bool fillerDone_ = false;
    SharedMailbox mailbox_;
    std::thread filler_;
};

}  // namespace quarnel
