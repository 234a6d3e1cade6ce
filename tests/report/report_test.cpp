// The service report's content and its pages: what each section says, and a layout that keeps
// every text inside the page, every table row on one page and every text at 9 pt or more.
#include <QBuffer>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPdfWriter>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "display/panel.h"
#include "display/qt_surface.h"
#include "model/registers.h"
#include "report/report_content.h"
#include "report/report_pdf.h"

namespace kvx {
namespace {

void ensureGuiApp() {
    if (QGuiApplication::instance()) return;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "report_tests";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
}

void put(SettingsImage& image, int reference, int value) {
    image[static_cast<std::size_t>(reference - 1)] = static_cast<std::int16_t>(value);
}

SettingsImage sampleImage() {
    SettingsImage image{};
    put(image, ref::product_type, 3);
    put(image, ref::version, 117);
    put(image, ref::serial_number, 4242);
    put(image, ref::modbus_address, 7);
    put(image, ref::indicator_type, 1);
    put(image, 41, 1234);  // load_sp0, x 0.1
    put(image, 51, 250);   // pressure_sp0, x 0.01
    put(image, 107, 126);  // low_batt_limit, x 0.1 V
    put(image, 130, 1);    // low_supply_press_email
    put(image, 33, 455);   // fuel_substit_max: the substitution screen shows tenths dropped
    return image;
}

// The table of a screen that has the column (a screen may have a form and a schedule).
const ReportTable* tableCalled(const std::vector<ReportTable>& tables, const std::string& caption,
                               const std::string& column) {
    for (const ReportTable& t : tables)
        if (t.caption == caption &&
            std::find(t.headings.begin(), t.headings.end(), column) != t.headings.end())
            return &t;
    return nullptr;
}

bool inside(const QRectF& outer, const QRectF& r) {
    return r.left() >= outer.left() - 0.5 && r.right() <= outer.right() + 0.5 &&
           r.top() >= outer.top() - 0.5 && r.bottom() <= outer.bottom() + 0.5;
}

// The cell of the row whose first cell is row, in the column headed column.
std::string cell(const ReportTable& t, const std::string& row, const std::string& column) {
    const auto c = std::find(t.headings.begin(), t.headings.end(), column);
    if (c == t.headings.end()) return "<no column " + column + ">";
    for (const auto& r : t.rows)
        if (!r.empty() && r[0] == row) return r[static_cast<std::size_t>(c - t.headings.begin())];
    return "<no row " + row + ">";
}

TEST(ReportContent, SettingsAreGroupedByScreenInEngineeringUnits) {
    SettingsImage image = sampleImage();
    struct Case {
        int indicatorType;
        const char* caption;
        const char* row;
        const char* column;
        const char* shown;
    };
    const Case cases[] = {
        {1, "Fuel Pressure Schedule Settings", "Point 1", "load (kW)", "123.4"},
        {2, "Fuel Pressure Schedule Settings", "Point 1", "load (HP)", "123.4"},
        {1, "Fuel Pressure Schedule Settings", "Point 1", "pressure (in.W.C.)", "2.500"},
        {1, "Flow Control Settings", "Low Battery Limit", "Value", "12.6"},
        {1, "Flow Control Settings", "Low Battery Limit", "Unit", "V"},
        {1, "Diesel Flow Schedule / Substitution Settings", "Substitution Maximum", "Value", "45"},
        {1, "Configure Alarm Email Enablers", "Low supply pressure", "Value", "Enabled"},
        {1, "Configure Alarm Email Enablers", "High supply pressure", "Value", "Disabled"},
        {1, "Other registers (as stored)", "3", "Value", "4242"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.caption) + " / " + c.row + " / " + c.column);
        put(image, ref::indicator_type, c.indicatorType);
        const std::vector<ReportTable> tables = settingsTables(image, 117);
        const ReportTable* t = tableCalled(tables, c.caption, c.column);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(cell(*t, c.row, c.column), c.shown);
    }
    // Every screen that edits registers has its table, and each row has a cell per heading.
    const std::vector<ReportTable> tables = settingsTables(image, 117);
    EXPECT_EQ(tables.size(), 9u);
    for (const ReportTable& t : tables) {
        EXPECT_EQ(t.weights.size(), t.headings.size()) << t.caption;
        for (const auto& row : t.rows)
            EXPECT_EQ(row.size(), t.headings.size()) << t.caption;
    }
    // A register the firmware's reads do not fill is not shown as a value.
    const std::vector<ReportTable> old = settingsTables(image, 105);
    EXPECT_EQ(cell(*tableCalled(old, "Flow Control Settings", "Value"), "Minimum RPM", "Value"),
              "not read on this firmware");
}

TEST(ReportContent, ChangesListOnlyWhatDifferedWithOldAndNewSideBySide) {
    const SettingsImage now = sampleImage();
    SettingsFileContents before;
    before.image = now;
    before.firmware = 117;
    before.serialNumber = 4242;
    before.rows = settingsFileRows(117);
    ReportTable table;
    std::string why;
    ASSERT_TRUE(changesTable(now, 117, before, table, why)) << why;
    EXPECT_TRUE(table.rows.empty());

    put(before.image, 41, 1000);
    put(before.image, 107, 120);
    put(before.image, 9, 77);  // a run meter: the controller's record, still a change to report
    ASSERT_TRUE(changesTable(now, 117, before, table, why)) << why;
    ASSERT_EQ(table.rows.size(), 3u);
    EXPECT_EQ(table.rows[0][0], "9");
    EXPECT_EQ(table.rows[1], (std::vector<std::string>{"41", "load_sp0", "100.0 kW", "123.4 kW"}));
    EXPECT_EQ(table.rows[2],
              (std::vector<std::string>{"107", "low_batt_limit", "12.0 V", "12.6 V"}));

    before.firmware = 113;
    EXPECT_FALSE(changesTable(now, 117, before, table, why));
    EXPECT_NE(why.find("firmware 1.13"), std::string::npos) << why;

    // The report says so in words when nothing changed, and names another controller's backup.
    ReportInputs in;
    in.identity.version = 117;
    in.identity.serial_number = 4242;
    in.settings = now;
    before.image = now;
    before.firmware = 117;
    before.serialNumber = 99;
    in.before = before;
    in.beforeName = "before.csv";
    const ServiceReport report = buildServiceReport(in);
    const ReportSection& s = report.sections[2];
    EXPECT_EQ(s.title, "Settings changed");
    EXPECT_TRUE(s.tables.empty());
    std::string all;
    for (const std::string& p : s.paragraphs)
        all += p + "\n";
    EXPECT_NE(all.find("Nothing changed"), std::string::npos) << all;
    EXPECT_NE(all.find("serial 99"), std::string::npos) << all;
}

TEST(ReportContent, FreeTextKeepsItsLinesAndDropsWhatCannotBePrinted) {
    EXPECT_EQ(freeTextParagraphs("one\r\n\ttwo\x01\n\nthree\n\n\n"),
              (std::vector<std::string>{"one", "    two", "", "three"}));
    EXPECT_TRUE(freeTextParagraphs("").empty());
    EXPECT_EQ(freeTextParagraphs("Grüße"), (std::vector<std::string>{"Grüße"}));
}

// A report with a long table and a long text, laid out on each paper.
TEST(ReportLayout, EveryTextStaysOnItsPageAndNoRowIsSplit) {
    ensureGuiApp();
    ServiceReport report;
    report.title = "Service Report";
    report.footer = "KVX serial 1";
    ReportSection table;
    table.title = "A long table";
    ReportTable t;
    t.headings = {"#", "Text"};
    t.weights = {1, 6};
    for (int i = 0; i < 300; ++i)
        t.rows.push_back({std::to_string(i), i % 7 == 0 ? std::string(300, 'w') + " end"
                                                        : "row " + std::to_string(i)});
    table.tables.push_back(t);
    report.sections.push_back(table);
    ReportSection text;
    text.title = "Notes";
    for (int i = 0; i < 400; ++i)
        text.paragraphs.push_back("Paragraph " + std::to_string(i) +
                                  " of the notes, long enough to wrap across the line at least "
                                  "once on either paper, and then some more words to be sure.");
    text.paragraphs.push_back(std::string(2000, 'x'));  // one word longer than many lines
    report.sections.push_back(text);
    // The panel's picture comes after its readings, on a landscape page of its own.
    ReportSection panel;
    panel.title = "Panel";
    panel.picture = ReportPicture::Panel;
    panel.paragraphs.push_back("The panel as it was.");
    ReportTable readings;
    readings.headings = {"Reading", "Value"};
    readings.rows = {{"Engine speed", "1500"}};
    panel.tables.push_back(readings);
    report.sections.push_back(panel);

    for (const Paper paper : {Paper::A4, Paper::Letter}) {
        SCOPED_TRACE(paper == Paper::A4 ? "A4" : "Letter");
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter device(&buffer);
        device.setResolution(288);
        ReportImages images;
        images.panel = QImage(panelPictureSize(paper), QImage::Format_RGB32);
        const ReportLayout layout = layoutReport(report, images, paper, device);
        ASSERT_GT(layout.pages.size(), 5u);
        ASSERT_EQ(layout.landscape.size(), layout.pages.size());
        // The last page holds the picture alone, across the landscape page at a scale that
        // prints the panel's smallest lettering at 9 pt or more; every other page is upright.
        const std::size_t last = layout.pages.size() - 1;
        for (std::size_t p = 0; p < layout.pages.size(); ++p)
            EXPECT_EQ(layout.landscape[p], p == last) << "page " << p;
        int pictures = 0;
        for (const PlacedItem& item : layout.pages[last]) {
            if (item.kind != PlacedItem::Picture) continue;
            ++pictures;
            EXPECT_EQ(item.picture, ReportPicture::Panel);
            const double pointsPerPixel =
                item.rect.width() / images.panel.width() * 72.0 / layout.dpi;
            EXPECT_GE(pointsPerPixel * QtSurface::smallestTextSize(), kReportMinPoints - 1e-9);
            EXPECT_NEAR(item.rect.width(), layout.contentRect(last).width(), layout.dpi / 72.0);
        }
        EXPECT_EQ(pictures, 1);
        const double width = layout.page.width() / layout.dpi * 25.4;
        EXPECT_NEAR(width, paper == Paper::A4 ? 210.0 : 215.9, 0.5);
        std::map<int, std::set<std::size_t>> pagesOfRow;
        std::map<std::size_t, int> headsOnPage;
        std::string textBack;
        for (std::size_t p = 0; p < layout.pages.size(); ++p) {
            for (const PlacedItem& item : layout.pages[p]) {
                EXPECT_TRUE(inside(layout.contentRect(p), item.rect))
                    << "page " << p << " " << item.text.toStdString();
                if (item.kind != PlacedItem::Text) continue;
                EXPECT_GE(item.font.pointSizeF(), kReportMinPoints);
                // The text fits its box as the page's fonts measure it.
                EXPECT_LE(QFontMetricsF(item.font, &device).horizontalAdvance(item.text),
                          item.rect.width() + 1)
                    << item.text.toStdString();
                if (item.table == 0 && item.row >= 0) pagesOfRow[item.row].insert(p);
                if (item.table == 0 && item.row < 0 && item.text == "Text") ++headsOnPage[p];
                if (item.table < 0 && !item.text.startsWith("KVX serial 1"))
                    textBack += item.text.toStdString();
            }
        }
        ASSERT_EQ(pagesOfRow.size(), 300u);
        std::set<std::size_t> tablePages;
        for (const auto& [row, pages] : pagesOfRow) {
            EXPECT_EQ(pages.size(), 1u) << "row " << row;
            tablePages.insert(*pages.begin());
        }
        EXPECT_GT(tablePages.size(), 1u);
        // The headings stand on every page the table spans.
        for (const std::size_t p : tablePages)
            EXPECT_EQ(headsOnPage[p], 1) << "page " << p;
        // Nothing of the text is lost: the long word comes back whole.
        EXPECT_NE(textBack.find(std::string(2000, 'x')), std::string::npos);
        EXPECT_NE(textBack.find("Paragraph 399 of the notes"), std::string::npos);
    }
}

TEST(ReportPdf, AFailedWriteLeavesNothingUnderTheName) {
    ensureGuiApp();
    const auto dir =
        std::filesystem::temp_directory_path() / ("report-write-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "taken");
    ServiceReport report;
    report.title = "Service Report";
    // A folder where the file should go: the rename fails, the folder stays, no temporary.
    std::string why = writeReportPdf(report, ReportImages{}, Paper::A4, (dir / "taken").string());
    EXPECT_FALSE(why.empty());
    EXPECT_TRUE(std::filesystem::is_directory(dir / "taken"));
    // A folder that does not exist.
    why = writeReportPdf(report, ReportImages{}, Paper::A4, (dir / "none" / "r.pdf").string());
    EXPECT_NE(why.find("none"), std::string::npos) << why;
    // A good write replaces an old file whole.
    { std::ofstream(dir / "r.pdf") << "old"; }
    EXPECT_EQ(writeReportPdf(report, ReportImages{}, Paper::Letter, (dir / "r.pdf").string()), "");
    EXPECT_GT(std::filesystem::file_size(dir / "r.pdf"), 100u);
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir))
        ++entries;
    EXPECT_EQ(entries, 2u);  // taken/ and r.pdf
    std::filesystem::remove_all(dir);
}

// The report's picture of the panel is what the window shows: the dials' faces carry the
// controller's ranges (a panel paints a face before it takes a new range, so a single paint
// would show the default scale under a needle set on the controller's).
TEST(ReportPanelPicture, DialFacesCarryTheControllersRanges) {
    ensureGuiApp();
    DisplayRanges ranges;
    ranges.hpMin = 0.0;
    ranges.hpMax = 1341.0;
    ranges.speedMax = 2400.0;
    ranges.indicator_type = 1;
    LiveData live;
    live.engine_speed = 1800;
    live.engine_hp = 10027;
    InputImage image;
    LiveStatus status;
    const PanelInputs in{live, image, status, ranges, 1};
    const QSize size = panelPictureSize(Paper::A4);

    // The window after its first repaint.
    Panel panel;
    panel.onCreate(DisplayRanges{});
    panel.onSize(size.width(), size.height());
    QtSurface first(size.width(), size.height());
    panel.onPaint(first, size.width(), size.height(), in);
    QtSurface shown(size.width(), size.height());
    panel.onPaint(shown, size.width(), size.height(), in);
    ASSERT_FALSE(first.image() == shown.image())
        << "the ranges given must differ from the defaults";

    EXPECT_TRUE(panelPicture(in, size) == shown.image())
        << "the picture is not the panel the window shows";
}

}  // namespace
}  // namespace kvx
