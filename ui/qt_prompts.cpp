#include "ui/qt_prompts.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QStringList>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(KVX_HAVE_XCB) && QT_CONFIG(xcb)
#include <xcb/xcb.h>
#endif

namespace kvx {

namespace {

#if defined(KVX_HAVE_XCB) && QT_CONFIG(xcb)
xcb_atom_t internAtom(xcb_connection_t* c, const char* name) {
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookie, nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}
#endif

// Qt never gives a window an empty name: it names one with an empty title after the program.
// A box whose caption is empty gets empty names on the X server (which window managers show
// as they stand); the names are set once the native window exists and before it is shown.
// Elsewhere the platform's own naming stays.
void giveEmptyCaption([[maybe_unused]] QWidget& box) {
#if defined(KVX_HAVE_XCB) && QT_CONFIG(xcb)
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c) return;
    const auto window = static_cast<xcb_window_t>(box.winId());
    const xcb_atom_t netWmName = internAtom(c, "_NET_WM_NAME");
    const xcb_atom_t utf8 = internAtom(c, "UTF8_STRING");
    if (netWmName != XCB_ATOM_NONE && utf8 != XCB_ATOM_NONE)
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, netWmName, utf8, 8, 0, "");
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0,
                        "");
    xcb_flush(c);
#endif
}

}  // namespace

int QtPrompts::messageBox(const std::string& text, const std::string& title, BoxIcon icon,
                          BoxButtons buttons, bool ownedByMainWindow) {
    QMessageBox box(ownedByMainWindow ? mainWindow_.data() : nullptr);
    box.setText(QString::fromStdString(text));
    box.setWindowTitle(QString::fromStdString(title));
    if (title.empty()) giveEmptyCaption(box);
    switch (icon) {
        case BoxIcon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case BoxIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case BoxIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case BoxIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
    }
    if (buttons == BoxButtons::YesNo || buttons == BoxButtons::YesNoDefaultNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(buttons == BoxButtons::YesNo ? QMessageBox::Yes : QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? kAnswerYes : kAnswerNo;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return kAnswerOk;
}

namespace {

std::string firstOf(const std::vector<std::string>& paths) {
    return paths.empty() ? std::string() : paths.front();
}

}  // namespace

std::string QtPrompts::openFileName(const FileDialogRequest& request) {
    return firstOf(fileDialog(false, false, request));
}

std::string QtPrompts::saveFileName(const FileDialogRequest& request) {
    return firstOf(fileDialog(true, false, request));
}

std::vector<std::string> QtPrompts::openFileNames(const FileDialogRequest& request) {
    return fileDialog(false, true, request);
}

std::vector<std::string> QtPrompts::fileDialog(bool save, bool several,
                                               const FileDialogRequest& request) {
    QFileDialog dialog(mainWindow_.data(), QString::fromStdString(request.title),
                       QString::fromStdString(request.initialDir));
    QStringList filters;
    for (const auto& f : request.filters) {
        // Qt reads the pattern from the trailing parentheses; a name that already shows its
        // pattern ("CSV Files (*.csv)") is used as it stands.
        const std::string shown = "(" + f.pattern + ")";
        const bool hasPattern =
            f.name.size() >= shown.size() &&
            f.name.compare(f.name.size() - shown.size(), shown.size(), shown) == 0;
        filters << QString::fromStdString(hasPattern ? f.name : f.name + " " + shown);
    }
    if (!filters.isEmpty()) dialog.setNameFilters(filters);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save      ? QFileDialog::AnyFile
                       : several ? QFileDialog::ExistingFiles
                                 : QFileDialog::ExistingFile);
    // The caller adds an extension by its own rule, so the dialog must not.
    dialog.setDefaultSuffix(QString());
    if (save && !request.confirmOverwrite) dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (!request.initialName.empty())
        dialog.selectFile(QString::fromStdString(request.initialName));
    if (dialog.exec() != QDialog::Accepted) return {};
    std::vector<std::string> paths;
    for (const QString& f : dialog.selectedFiles())
        paths.push_back(f.toStdString());
    return paths;
}

}  // namespace kvx
