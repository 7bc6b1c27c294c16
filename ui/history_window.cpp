#include "ui/history_window.h"

#include <QHeaderView>
#include <memory>
#include <utility>

#include "diagnostics/log.h"
#include "platform/product.h"
#include "resources/texts.h"
#include "ui/gadget_helpers.h"
#include "ui/image_slots.h"
#include "ui/result_notice.h"

namespace quarnel {

HistoryWindow::HistoryWindow(const ImageSlots& images, HistoryReader reader)
    : images_(images),
      reader_(std::move(reader)),
      list_(this),
      mailbox_(std::make_shared<Mailbox>(this)) {
    setWindowTitle(QString::fromStdString(LoadResourceText(150)));
    resize(400, 300);
    FixWindowFrame(*this);
    list_.setGeometry(10, 10, 380, 280);
    list_.setHeaderHidden(true);
    list_.setRootIsDecorated(false);
    list_.setItemsExpandable(false);
    list_.setIconSize(QSize(16, 16));
    list_.setFrameShadow(QFrame::Sunken);
    list_.setSelectionMode(QAbstractItemView::SingleSelection);
}

HistoryWindow::~HistoryWindow() {
    mailbox_->Close();
    if (filler_.joinable()) {
        filler_.join();
    }
}

void HistoryWindow::StartFiller() {
    if (filler_.joinable()) {
        return;
    }
    filler_ = std::thread([mailbox = mailbox_, reader = reader_, this] {
        QLOG(kLogDebug, "FillHistoryFromEventLog", "Reading the event log");
        std::vector<HistoryEntry> entries = reader();
        mailbox->Post([this, entries = std::move(entries)] {
            AddFilledLines(entries);
            fillerDone_ = true;
        });
    });
}

void HistoryWindow::InsertLiveLine(const std::string& line, int imageSlot) {
    InsertLine(0, line, imageSlot);
    ++liveLines_;
}

void HistoryWindow::AddFilledLines(const std::vector<HistoryEntry>& entries) {
    for (const HistoryEntry& entry : entries) {
        InsertLine(liveLines_ + filledLines_, entry.line, entry.imageSlot);
        ++filledLines_;
    }
}

void HistoryWindow::InsertLine(int index, const std::string& line, int imageSlot) {
    auto* item = new QTreeWidgetItem();
    item->setText(0, QString::fromStdString(line));
    item->setIcon(0, images_.Icon(imageSlot));
    list_.insertTopLevelItem(index, item);
}

}  // namespace quarnel
