#pragma once
// Helpers for tests that drive the real main window on the offscreen platform.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace kvx::test {

// Runs action on the modal dialog named objectName as soon as it is up (the caller is about
// to run the command that opens it). Gives up after timeoutMs.
inline void whenModal(const QString& objectName, std::function<void(QWidget&)> action,
                      int timeoutMs = 20000) {
    auto* poll = new QTimer;
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, objectName, action, started, timeoutMs] {
        QWidget* w = QApplication::activeModalWidget();
        if (w && w->objectName() == objectName) {
            poll->stop();
            poll->deleteLater();
            action(*w);
        } else if (started->elapsed() > timeoutMs) {
            poll->stop();
            poll->deleteLater();
        }
    });
    poll->start();
}

inline void typeInto(QWidget& dialog, const char* field, const QString& text) {
    auto* edit = dialog.findChild<QLineEdit*>(QString::fromUtf8(field));
    if (edit) edit->setText(text);
}

inline void press(QWidget& dialog, const char* button) {
    if (auto* b = dialog.findChild<QPushButton*>(QString::fromUtf8(button))) b->click();
}

inline std::filesystem::path freshTestDir(const char* prefix) {
    namespace fs = std::filesystem;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    fs::path dir =
        fs::path(::testing::TempDir()) / (std::string(prefix) + std::to_string(::getpid()) + "_" +
                                          info->test_suite_name() + "_" + info->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

}  // namespace kvx::test
