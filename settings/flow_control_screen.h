#pragma once
// The flow control screen without a window: fourteen fields written one at a time as the user
// leaves them, or all at once (Update All), over the four blocks its command reads.
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "settings/register_screen.h"

namespace kvx {

// The fourteen fields (edit id -> register), in screen order.
std::span<const ScreenField> flowControlFields();
// The register of an edit id, 0 when the id is not one of the fields.
int flowControlReference(int editId);

inline constexpr const char* kFlowControlTitle = "Flow Control Settings";
inline constexpr int kFlowControlMinFirmware = 106;

class FlowControlScreen {
  public:
    explicit FlowControlScreen(SettingsContext context);

    // The opening reads, all of them whatever they return.
    void readBlocks();
    // Field texts from the blocks; the status line names the reads that failed.
    void initialise();
    const std::string& shownText(int editId) const;
    const std::string& status() const { return status_; }

    // Update for one field (the one left, or the one that has the focus; any other id writes
    // nothing). Ignored once the screen has closed.
    void updateField(int editId, const std::string& text);
    // Update All: every field parsed into its block, then the eight writes in order, all tried.
    void updateAll(const std::function<std::string(int editId)>& fieldText);
    bool save();
    // The dialog has closed: updates still on their way are dropped.
    void close() { closed_ = true; }
    bool closed() const { return closed_; }

    std::int16_t value(int reference) const;
    // Whether the register's value is known: read on opening, or typed and written since.
    bool known(int reference) const;

  private:
    RegisterBlock& blockOf(int reference) const;
    const ScreenField* field(int editId) const;
    // The value to write for a field, false when it must not be written (not read and not
    // typed).
    bool valueFor(const ScreenField& f, const std::string& text, bool single, std::int16_t& out);

    SettingsContext ctx_;
    std::map<int, std::string> shown_;
    std::map<int, std::int16_t> shownRaw_;
    std::map<int, bool> typedKnown_;  // reference -> a typed value has been written
    std::string status_;
    bool closed_ = false;
};

}  // namespace kvx
