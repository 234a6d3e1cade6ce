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
    // nothing). Ignored once the screen has closed. False when the text is not a value of the
    // field's kind: nothing is written and the status line names the field.
    bool updateField(int editId, const std::string& text);
    // Update All: every field parsed into its block, then the eight writes in order, all tried.
    // A field whose text is not a value refuses the whole Update All before anything is
    // written: its edit id is returned (0 when none).
    int updateAll(const std::function<std::string(int editId)>& fieldText);
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
    enum class Entry {
        Value,     // out holds what to write
        NotKnown,  // untouched and never read: must not be written
        Refused,   // not a value of the field's kind; status_ says so
    };
    Entry valueFor(const ScreenField& f, const std::string& text, std::int16_t& out);

    SettingsContext ctx_;
    std::map<int, std::string> shown_;
    std::map<int, std::int16_t> shownRaw_;
    std::map<int, bool> typedKnown_;  // reference -> a typed value has been written
    std::string status_;
    bool closed_ = false;
};

}  // namespace kvx
