#include "ui/diagnose_window.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <utility>

#include "resources/texts.h"
#include "ui/gadget_helpers.h"
#include "ui/result_notice.h"

namespace quarnel {
namespace {

struct LabelPlace {
    int x;
    int y;
    int width;
    int textId;  // 0: an address
};

constexpr LabelPlace kPlaces[] = {
    {10, 10, 200, 153}, {10, 30, 100, 155}, {110, 30, 100, 0}, {10, 50, 100, 156},
    {110, 50, 100, 0},  {10, 70, 100, 157}, {110, 70, 100, 0},
};

}  // namespace

DiagnoseWindow::DiagnoseWindow(AddressDetections detections)
    : mailbox_(std::make_shared<Mailbox>(this)) {
    setWindowTitle(QString::fromStdString(LoadResourceText(151)));
    // A label is as wide as its place, or as its text where the desktop's font needs more, and
    // the window as wide as its labels: no text is cut off.
    int windowWidth = 200;
    for (std::size_t i = 0; i < labels_.size(); ++i) {
        const LabelPlace& place = kPlaces[i];
        // The addresses are what the echo pages and the resolver answered.
        labels_[i] = PlainTextLabel(this);
        int labelWidth = place.width;
        if (place.textId != 0) {
            labels_[i]->setText(QString::fromStdString(LoadResourceText(place.textId)));
            labelWidth = std::max(labelWidth, labels_[i]->sizeHint().width());
        }
        labels_[i]->setGeometry(place.x, place.y, labelWidth, 20);
        windowWidth = std::max(windowWidth, place.x + labelWidth + 10);
    }
    resize(windowWidth, 100);
    FixWindowFrame(*this);
    // The detections take up to a minute each without an answer; the window does not wait.
    // The thread owns everything it uses, so the window may close before it ends.
    std::thread([mailbox = mailbox_, detections = std::move(detections), this] {
        const std::function<std::string()>* order[] = {&detections.https, &detections.http,
                                                       &detections.dns};
        int label = 2;
        for (const auto* detect : order) {
            const std::string address = CleanDisplayText((*detect)(), 64);
            mailbox->Post([this, label, address] {
                QLabel& shown = *labels_[static_cast<std::size_t>(label)];
                shown.setText(QString::fromStdString(address));
                shown.resize(std::max(shown.width(), shown.sizeHint().width()), shown.height());
                setFixedWidth(std::max(this->width(), shown.x() + shown.width() + 10));
                ++answered_;
            });
            label += 2;
        }
    }).detach();
}

DiagnoseWindow::~DiagnoseWindow() {
    mailbox_->Close();
}

}  // namespace quarnel
