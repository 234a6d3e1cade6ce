#include "app/broker_unit_dialog.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cstdio>

#include "app/broker_session.h"
#include "app/core/program_settings.h"
#include "app/core/window_texts.h"
#include "resources/resource_ids.h"
#include "ui/dialog_parts.h"
#include "ui/dialog_width.h"

namespace kvx {

namespace {

QString fileText(const std::string& path, const char* none) {
    return path.empty() ? QString::fromLatin1(none) : QString::fromStdString(path);
}

}  // namespace

BrokerUnitDialog::BrokerUnitDialog(const ProgramSettings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
    setObjectName(QString::number(res::kBrokerUnitDialog));
    setWindowTitle(QStringLiteral("Open Unit from Broker"));
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("Broker"), this);
    auto* form = new QFormLayout(group);
    url_ = new EntryField(res::kBrokerUrlEdit, QString::fromStdString(settings.brokerUrl), group);
    url_->setPlaceholderText(QStringLiteral("mqtt://HOST:PORT or mqtts://HOST:PORT"));
    url_->setMinimumWidth(url_->fontMetrics().horizontalAdvance(QString(40, QLatin1Char('x'))));
    auto* list = makeButton(res::kBrokerListButton, QStringLiteral("List Units"), group);
    auto* urlRow = new QHBoxLayout;
    urlRow->addWidget(url_, 1);
    urlRow->addWidget(list);
    form->addRow(QStringLiteral("URL"), urlRow);
    // The files come from the settings file only: shown here, changed there.
    auto* ca =
        new QLabel(fileText(settings.brokerCaFile, "the system's certificate authorities"), group);
    auto* credentials = new QLabel(fileText(settings.brokerCredentialsFile, "none"), group);
    for (QLabel* l : {ca, credentials}) {
        l->setTextFormat(Qt::PlainText);
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    form->addRow(QStringLiteral("CA file (mqtts)"), ca);
    form->addRow(QStringLiteral("Credentials file"), credentials);
    layout->addWidget(group);

    list_ = new QTableWidget(0, 4, this);
    list_->setObjectName(QString::number(res::kBrokerUnitList));
    list_->setHorizontalHeaderLabels({QStringLiteral("Site"), QStringLiteral("Serial"),
                                      QStringLiteral("Firmware"), QStringLiteral("Status")});
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->verticalHeader()->setVisible(false);
    // Site, serial and firmware as wide as they need; the status (with a reason) takes the rest.
    for (int c = 0; c < 3; ++c)
        list_->horizontalHeader()->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    list_->horizontalHeader()->setSectionResizeMode(3, QHeaderView::Stretch);
    list_->setMinimumHeight(8 * list_->fontMetrics().lineSpacing());
    layout->addWidget(list_, 1);
    status_ = makeStatusLine(this);
    // It shows what was typed and what the broker said: text, never markup.
    status_->setTextFormat(Qt::PlainText);
    layout->addWidget(status_);

    auto* open = makeButton(res::kIdOk, QStringLiteral("Open"), this, true);
    auto* cancel = makeButton(res::kIdCancel, QStringLiteral("Cancel"), this);
    addButtonRow(layout, {open, cancel});
    connect(open, &QPushButton::clicked, this, &BrokerUnitDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &BrokerUnitDialog::reject);
    connect(list, &QPushButton::clicked, this, &BrokerUnitDialog::listUnits);
    connect(list_, &QTableWidget::cellDoubleClicked, this, [this] { accept(); });
    ensureTitleFits(this);
    resize(std::max(width(), 640), std::max(height(), 420));
    if (settings.brokerUrl.empty()) {
        status_->setText(QStringLiteral(
            "Type the broker's URL, or name it as broker_url in kvx_settings.conf, then List "
            "Units."));
        url_->setFocus();
    } else {
        listUnits();
    }
}

BrokerUnitDialog::~BrokerUnitDialog() = default;

QString BrokerUnitDialog::statusText() const {
    return status_->text();
}

void BrokerUnitDialog::listUnits() {
    session_.reset();
    directory_ = BrokerDirectory{};
    shown_.clear();
    list_->setRowCount(0);
    connected_ = false;
    problem_.clear();
    listedUrl_ = url_->text().trimmed().toStdString();
    session_ = std::make_unique<BrokerSession>();
    session_->onMessage([this](const std::string& topic, const std::string& payload,
                               std::size_t bytes) { takeMessage(topic, payload, bytes); });
    session_->onConnection([this](bool connected, const std::string& reason) {
        connectionChanged(connected, reason);
    });
    std::string why;
    if (!session_->start(listedUrl_, settings_,
                         {fleet::topicFilter(fleet::TopicKind::Identity),
                          fleet::topicFilter(fleet::TopicKind::Status)},
                         why)) {
        session_.reset();
        problem_ = why;
    }
    showStatus();
}

void BrokerUnitDialog::takeMessage(const std::string& topic, const std::string& payload,
                                   std::size_t bytes) {
    std::string why;
    if (!directory_.take(topic, payload, why)) {
        std::fprintf(stderr, "orvik-kvx: %s\n", skippedMessageLine(topic, bytes, why).c_str());
        return;
    }
    fillList();
}

void BrokerUnitDialog::connectionChanged(bool connected, const std::string& reason) {
    connected_ = connected;
    problem_ = connected ? std::string() : reason;
    showStatus();
}

void BrokerUnitDialog::showStatus() {
    std::string text;
    if (!problem_.empty())
        text = "Not listed from " + listedUrl_ + ": " + problem_;
    else if (!connected_)
        text = "Connecting to " + listedUrl_ + "...";
    else if (shown_.empty())
        text = "Connected to " + listedUrl_ + ": no unit has published its identity yet.";
    else
        text = "Connected to " + listedUrl_ + ": " + std::to_string(shown_.size()) +
               (shown_.size() == 1 ? " unit." : " units.");
    status_->setText(QString::fromStdString(text));
}

void BrokerUnitDialog::fillList() {
    // The chosen row stays chosen while units come and go.
    std::optional<fleet::UnitId> selected;
    const int row = list_->currentRow();
    if (row >= 0 && row < static_cast<int>(shown_.size()))
        selected = std::next(shown_.begin(), row)->first;
    shown_ = directory_.units();
    list_->setRowCount(static_cast<int>(shown_.size()));
    int r = 0;
    int selectRow = -1;
    for (const auto& [id, unit] : shown_) {
        const QString cells[] = {
            QString::fromStdString(id.site),
            QString::number(id.serial),
            QString::fromStdString(fixed2(unit.identity.firmware / 100.0)),
            QString::fromStdString(unitStatusText(unit.status)),
        };
        for (int c = 0; c < 4; ++c) {
            QTableWidgetItem* item = list_->item(r, c);
            if (!item) list_->setItem(r, c, item = new QTableWidgetItem);
            if (item->text() != cells[c]) item->setText(cells[c]);
        }
        if (selected && *selected == id) selectRow = r;
        ++r;
    }
    if (selectRow >= 0)
        list_->selectRow(selectRow);
    else if (list_->currentRow() < 0 && !shown_.empty())
        list_->selectRow(0);
    showStatus();
}

void BrokerUnitDialog::accept() {
    // Enter in the URL field after typing a new one lists that broker's units.
    if (url_->hasFocus() && url_->text().trimmed().toStdString() != listedUrl_) {
        listUnits();
        return;
    }
    const int row = list_->currentRow();
    if (row < 0 || row >= static_cast<int>(shown_.size())) {
        status_->setText(QStringLiteral("Choose a unit from the list first."));
        return;
    }
    const auto& [id, unit] = *std::next(shown_.begin(), row);
    choice_ = Choice{listedUrl_, id, unit.identity};
    session_.reset();
    done(kResultOpen);
}

void BrokerUnitDialog::reject() {
    session_.reset();
    done(kResultCancel);
}

}  // namespace kvx
