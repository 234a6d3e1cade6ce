#pragma once
// The register-screen pattern without a window: the opening reads, the field texts, Change,
// "Save && Close" and the status line, for any screen described by a ScreenTable.
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "link/device_link.h"
#include "settings/register_block.h"
#include "settings/screen_table.h"
#include "settings/settings_context.h"

namespace kvx {

class RegisterScreen {
  public:
    RegisterScreen(const ScreenTable& table, SettingsContext context);

    const ScreenTable& table() const { return table_; }

    // The opening command's reads, in order, stopping at the first failure: 0 or its result.
    int readBlocks();
    // Dialog initialisation: the indicator-type read where the screen has one, then every
    // field's text from the blocks.
    void initialise();

    // The text a field was filled with on opening.
    const std::string& shownText(int editId) const;
    // The text of a heading by its position (column, unit line), after initialise().
    std::string columnHeading(std::size_t column, bool unitLine) const;
    const std::string& status() const { return status_; }

    // Change: every field's text (by edit id) parsed, then the blocks written whole in the
    // screen's order. A field whose text is still the one it was filled with keeps the value it
    // was shown from, so a shown value that drops digits never writes them away. Text that is
    // not a value of its field's kind refuses the whole Change before anything is written or
    // put into a block: the edit id of the first such field is returned (0 when none), and the
    // status line names it.
    int change(const std::function<std::string(int editId)>& fieldText);
    // The field as the status line names it: its label, and in a table its column's heading.
    std::string fieldName(const ScreenField& field) const;
    // The save command; true when it succeeded (the dialog then closes).
    bool save();

    std::int16_t value(int reference) const;
    // What the window follows: the exhaust screen's maximum as the last Change put it into its
    // block, whatever the writes returned (the gauge takes it whether or not the controller
    // did).
    const SettingsOutcome& toFollow() const { return toFollow_; }

  private:
    RegisterBlock& blockOf(int reference) const;

    const ScreenTable& table_;
    SettingsContext ctx_;
    std::map<int, std::string> shown_;      // edit id -> text filled in
    std::map<int, std::int16_t> shownRaw_;  // edit id -> value it was shown from
    bool horsepower_ = false;
    std::string status_;
    SettingsOutcome toFollow_;
};

// The save command: 4660 to save_data_command. 0 or the link's result.
int sendSaveCommand(DeviceLink& link, int slave);

}  // namespace kvx
