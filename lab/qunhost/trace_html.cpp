#include "lab/qunhost/trace_html.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>

#include "lab/qunhost/trace_page/report_assets.h"
#include "recorder/trace/card_routines.h"

namespace qunhost {

namespace {

using qtrace::kCardRoutines;

// Duration plots: the busiest places; the summary lists them all.
constexpr size_t kPlottedPlaces = 12;

// ---- text ----------------------------------------------------------------------------

// The code point at *at (which moves past it); U+FFFD for a byte that starts
// no well-formed UTF-8 sequence.
uint32_t NextCodePoint(const std::string& text, size_t* at) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t first = byte(*at);
    ++*at;
    if (first < 0x80) return first;
    int more = first >= 0xF0 && first <= 0xF4 ? 3 : first >= 0xE0 ? 2 : first >= 0xC2 ? 1 : -1;
    if (first >= 0xF8 || more < 0 || *at + more > text.size()) return 0xFFFD;
    uint32_t point = first & (0x3F >> more);
    for (int i = 0; i < more; ++i) {
        const uint8_t next = byte(*at + i);
        if ((next & 0xC0) != 0x80) return 0xFFFD;
        point = (point << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and points past U+10FFFF are no UTF-8.
    const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (point < least[more] || (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF)
        return 0xFFFD;
    *at += more;
    return point;
}

std::string Hex4(uint32_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value));
    return text;
}

// ---- numbers -------------------------------------------------------------------------

std::string Number(double value, int digits = 10) {
    if (!std::isfinite(value)) return "null";
    char text[40];
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    return text;
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, std::isfinite(value) ? value : 0.0);
    return text;
}

std::string WallTime(uint64_t microseconds) {
    const std::time_t seconds = static_cast<std::time_t>(microseconds / 1000000);
    std::tm parts{};
#if defined(_WIN32)
    if (gmtime_s(&parts, &seconds) != 0) return "an unknown time";
#else
    if (gmtime_r(&seconds, &parts) == nullptr) return "an unknown time";
#endif
    char text[64];
    if (std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts) == 0)
        return "an unknown time";
    return text;
}

std::string Seconds(double seconds) { return Fixed(seconds, 3) + " s"; }

// ---- names ---------------------------------------------------------------------------

std::string PlaceName(const PlaceKey& key) {
    const int64_t channel = std::get<1>(key), equipment = std::get<2>(key);
    std::string name = std::get<0>(key) ? "card " + std::to_string(channel)
                       : channel < 0    ? "no channel"
                                        : "channel " + std::to_string(channel);
    if (equipment >= 0) name += " equipment " + std::to_string(equipment);
    return name;
}

std::string GateName(const GateKey& key) {
    const std::string where = key.database
                                  ? "card " + std::to_string(key.channel) + " database "
                                  : "channel " + std::to_string(key.channel) + " equipment " +
                                        std::to_string(key.equipment) + " ";
    return where + AreaName(key.area) + " " + std::to_string(key.address);
}

std::string RoutineName(int routine) {
    return routine >= 0 && routine < qtrace::kRoutineCount ? kCardRoutines[routine].name
                                                           : "routine " + std::to_string(routine);
}

std::string RoutineCounts(const std::map<int, uint64_t>& routines) {
    std::string text;
    for (const auto& entry : routines)
        text += (text.empty() ? "" : ", ") + RoutineName(entry.first) + " " +
                std::to_string(entry.second);
    return text;
}

std::string RoutineList(uint64_t routines) {
    std::string text;
    for (int r = 0; r < qtrace::kRoutineCount; ++r)
        if (routines & (uint64_t(1) << r)) text += (text.empty() ? "" : ", ") + RoutineName(r);
    return text;
}

// The filter as the options that give it, for the commands the page shows.
std::string FilterOptions(const TraceFilter& filter) {
    std::string text;
    if (filter.routine >= 0) text += " --routine " + RoutineName(filter.routine);
    if (filter.channel >= 0) text += " --channel " + std::to_string(filter.channel);
    if (filter.equipment >= 0) text += " --equipment " + std::to_string(filter.equipment);
    if (filter.statusGiven) text += " --status " + std::to_string(filter.status);
    if (filter.gapSeconds != 1) text += " --gap " + Fixed(filter.gapSeconds, 3) + "s";
    return text;
}

// ---- JSON ----------------------------------------------------------------------------

template <class T, class Each>
std::string JsonArray(const std::vector<T>& items, Each each) {
    std::string text = "[";
    for (size_t i = 0; i < items.size(); ++i) text += (i == 0 ? "" : ",") + each(items[i]);
    return text + "]";
}

std::string Counts(const std::vector<uint32_t>& counts, int buckets) {
    std::string text = "[";
    for (int i = 0; i < buckets; ++i)
        text += (i == 0 ? "" : ",") +
                std::to_string(static_cast<size_t>(i) < counts.size() ? counts[i] : 0);
    return text + "]";
}

std::string Field(const char* name, const std::string& json) {
    return std::string("\"") + name + "\":" + json;
}

std::string Object(const std::vector<std::string>& fields) {
    std::string text = "{";
    for (size_t i = 0; i < fields.size(); ++i) text += (i == 0 ? "" : ",") + fields[i];
    return text + "}";
}

std::string KindsJson(const TraceDigest& digest) {
    std::vector<std::string> kinds;
    for (int k = 0; k < kCallKinds; ++k) {
        uint64_t total = 0;
        for (uint32_t c : digest.ok[k]) total += c;
        for (uint32_t c : digest.failed[k]) total += c;
        kinds.push_back(Object({Field("name", JsonString(kCallKindNames[k])),
                                Field("total", std::to_string(total)),
                                Field("ok", Counts(digest.ok[k], digest.buckets())),
                                Field("failed", Counts(digest.failed[k], digest.buckets()))}));
    }
    return JsonArray(kinds, [](const std::string& s) { return s; });
}

std::string PlacesJson(const TraceDigest& digest) {
    // The places called all along first (a cold start's clearing calls each
    // channel thousands of times, in two moments).
    std::vector<std::pair<std::pair<size_t, uint64_t>, PlaceKey>> busiest;
    for (const auto& entry : digest.places) {
        if (!entry.second.plotted) continue;
        size_t buckets = 0;
        for (const std::vector<float>& micros : entry.second.micros) buckets += !micros.empty();
        busiest.push_back({{buckets, entry.second.calls}, entry.first});
    }
    std::stable_sort(busiest.begin(), busiest.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    if (busiest.size() > kPlottedPlaces) busiest.resize(kPlottedPlaces);
    std::vector<std::string> places;
    for (const auto& busy : busiest) {
        const PlaceFigures& place = digest.places.at(busy.second);
        std::string p50 = "[", p99 = "[";
        for (int i = 0; i < digest.buckets(); ++i) {
            std::vector<float> micros;
            if (static_cast<size_t>(i) < place.micros.size()) micros = place.micros[i];
            std::sort(micros.begin(), micros.end());
            const char* comma = i == 0 ? "" : ",";
            p50 += comma + (micros.empty() ? "null" : Number(SortedShare(micros, 0.5), 4));
            p99 += comma + (micros.empty() ? "null" : Number(SortedShare(micros, 0.99), 4));
        }
        places.push_back(Object({Field("name", JsonString(PlaceName(busy.second))),
                                 Field("calls", std::to_string(place.calls)),
                                 Field("p50", p50 + "]"), Field("p99", p99 + "]")}));
    }
    return JsonArray(places, [](const std::string& s) { return s; });
}

std::string StatusesJson(const TraceDigest& digest) {
    std::vector<std::string> statuses;
    for (const auto& entry : digest.statuses) {
        if (!entry.second.plotted) continue;
        statuses.push_back(
            Object({Field("status", std::to_string(entry.first)),
                    Field("calls", std::to_string(entry.second.calls)),
                    Field("routines", JsonString(RoutineCounts(entry.second.routines))),
                    Field("counts", Counts(entry.second.buckets, digest.buckets()))}));
    }
    return JsonArray(statuses, [](const std::string& s) { return s; });
}

// Gates with the most changes first, then the most written.
std::vector<const GateFigures*> GatesByChange(const TraceDigest& digest) {
    std::vector<const GateFigures*> gates;
    for (const auto& entry : digest.gates) gates.push_back(&entry.second);
    std::stable_sort(gates.begin(), gates.end(), [](const GateFigures* a, const GateFigures* b) {
        if (a->changes != b->changes) return a->changes > b->changes;
        return a->writes > b->writes;
    });
    return gates;
}

std::string GateJson(const GateFigures& gate, int buckets) {
    const ElementFormat format = FormatOf(gate.key.area);
    const int digits = format.kind == ElementKind::kFloat ? 7 : 10;
    std::string low = "[", high = "[", end = "[";
    bool ranges = false;
    for (int i = 0; i < buckets; ++i) {
        const char* comma = i == 0 ? "" : ",";
        const bool has = static_cast<size_t>(i) < gate.cells.size() && gate.cells[i].reads != 0;
        low += comma + (has ? Number(gate.cells[i].low, digits) : "null");
        high += comma + (has ? Number(gate.cells[i].high, digits) : "null");
        end += comma + (has ? Number(gate.cells[i].last, digits) : "null");
        ranges = ranges || (has && gate.cells[i].low != gate.cells[i].high);
    }
    const std::string marks = JsonArray(gate.marks, [&](const WriteMark& m) {
        return "[" + Number(m.seconds) + "," + Number(m.value, digits) + "," +
               std::to_string(m.status) + "," + std::to_string(m.writes) + "," +
               std::to_string(m.failed) + "]";
    });
    return Object({Field("name", JsonString(GateName(gate.key))),
                   Field("bits", format.kind == ElementKind::kBit ? "true" : "false"),
                   Field("reads", std::to_string(gate.reads)),
                   Field("changes", std::to_string(gate.changes)),
                   Field("writes", std::to_string(gate.writes)),
                   Field("routines", JsonString(RoutineList(gate.routines))),
                   Field("lo", low + "]"), Field("hi", ranges ? high + "]" : "null"),
                   Field("end", ranges ? end + "]" : "null"), Field("marks", marks)});
}

std::string MarksJson(const std::vector<Mark>& marks) {
    return JsonArray(marks, [](const Mark& m) {
        return "[" + Number(m.seconds) + "," + Number(m.length) + "," + JsonString(m.text) + "]";
    });
}

std::string DataJson(const Timeline& timeline, const TraceDigest& digest) {
    std::vector<Mark> damaged;
    for (const DamageMark& d : timeline.damaged())
        damaged.push_back({d.seconds, static_cast<double>(d.bytes), d.file + ": " + d.problem});
    const std::string files = JsonArray(timeline.files(), [](const TimelineFile& f) {
        return Object({Field("path", JsonString(f.path)), Field("offset", Number(f.offsetSeconds)),
                       Field("first", Number(f.firstSeconds)),
                       Field("last", Number(f.lastSeconds))});
    });
    std::string gates = "[";
    for (const GateFigures* gate : GatesByChange(digest))
        gates += (gates.size() == 1 ? "" : ",") + GateJson(*gate, digest.buckets());
    return Object({Field("origin", Number(digest.origin())), Field("width", Number(digest.width())),
                   Field("buckets", std::to_string(digest.buckets())),
                   Field("wallStart", std::to_string(timeline.wallStartMicroseconds())),
                   Field("filter", JsonString(FilterOptions(digest.filter()))),
                   Field("gap", Number(digest.filter().gapSeconds)), Field("files", files),
                   Field("kinds", KindsJson(digest)), Field("pauses", MarksJson(digest.pauses)),
                   Field("drops", MarksJson(digest.drops)), Field("damaged", MarksJson(damaged)),
                   Field("places", PlacesJson(digest)), Field("statuses", StatusesJson(digest)),
                   Field("gates", gates + "]")});
}

// ---- HTML ----------------------------------------------------------------------------

struct Column {
    const char* heading;
    bool number;
};

std::string Table(const char* className, const std::vector<Column>& columns,
                  const std::vector<std::string>& rows) {
    std::string text = std::string("<table class=\"") + className + "\"><thead><tr>";
    for (const Column& c : columns)
        text += std::string(c.number ? "<th class=\"n\">" : "<th>") + c.heading + "</th>";
    text += "</tr></thead><tbody>\n";
    for (const std::string& row : rows) text += row + "\n";
    return text + "</tbody></table>\n";
}

std::string Cell(const std::string& text) { return "<td>" + HtmlText(text) + "</td>"; }
std::string NumberCell(const std::string& text, const std::string& sortValue = "") {
    return (sortValue.empty() ? "<td class=\"n\">"
                              : "<td class=\"n\" data-v=\"" + sortValue + "\">") +
           HtmlText(text) + "</td>";
}
std::string Count(uint64_t n) { return NumberCell(std::to_string(n)); }

// A row that, clicked, shows the stretch of time it names.
std::string JumpRow(double from, double to, const std::string& cells) {
    return "<tr class=\"jump\" data-from=\"" + Number(from) + "\" data-to=\"" + Number(to) + "\">" +
           cells + "</tr>";
}

std::string Facts(const Timeline& timeline, const TraceDigest& digest) {
    uint64_t records = 0, bytes = 0;
    for (const TimelineFile& f : timeline.files()) {
        records += f.records;
        bytes += f.wholeBytes;
    }
    const double span = digest.lastSeconds > digest.firstSeconds && digest.firstSeconds >= 0
                            ? digest.lastSeconds - digest.firstSeconds
                            : 0;
    std::vector<std::string> facts = {
        "started <b>" + HtmlText(WallTime(timeline.wallStartMicroseconds())) + "</b>",
        "<b>" + HtmlText(Seconds(span)) + "</b> of calls selected",
        "<b>" + std::to_string(timeline.files().size()) + "</b> file" +
            (timeline.files().size() == 1 ? "" : "s") + ", " + std::to_string(records) +
            " records in " + std::to_string(bytes) + " bytes",
        "<b>" + std::to_string(digest.calls) + "</b> calls on " +
            std::to_string(digest.threads.size()) + " thread" +
            (digest.threads.size() == 1 ? "" : "s"),
        std::string(digest.failedCalls ? "<span class=\"bad\">" : "<span>") + "<b>" +
            std::to_string(digest.failedCalls) + "</b> failed</span>",
        std::string(digest.droppedCalls ? "<span class=\"bad\">" : "<span>") + "<b>" +
            std::to_string(digest.droppedCalls) + "</b> calls not recorded</span>",
        std::string(timeline.damaged().empty() ? "<span>" : "<span class=\"bad\">") + "<b>" +
            std::to_string(timeline.damaged().size()) + "</b> damaged stretch" +
            (timeline.damaged().size() == 1 ? "" : "es") + "</span>",
        "<b>" + std::to_string(digest.gates.size()) + "</b> gate address" +
            (digest.gates.size() == 1 ? "" : "es"),
        "buckets of " + HtmlText(Seconds(digest.width())),
    };
    const std::string filter = FilterOptions(digest.filter());
    if (digest.filter().fromSeconds > 0 || digest.filter().toSeconds >= 0 || !filter.empty())
        facts.push_back("selected by <code>" +
                        HtmlText((digest.filter().fromSeconds > 0
                                      ? "--from " + Fixed(digest.filter().fromSeconds, 3) + "s "
                                      : "") +
                                 (digest.filter().toSeconds >= 0
                                      ? "--to " + Fixed(digest.filter().toSeconds, 3) + "s "
                                      : "") +
                                 filter) +
                        "</code>");
    std::string text = "<ul class=\"facts\">";
    for (const std::string& fact : facts) text += "<li>" + fact + "</li>";
    return text + "</ul>";
}

std::string GateTable(const TraceDigest& digest) {
    std::vector<std::string> rows;
    int index = 0;
    for (const GateFigures* gate : GatesByChange(digest)) {
        const int digits = FormatOf(gate->key.area).kind == ElementKind::kFloat ? 7 : 10;
        const std::string range =
            gate->reads == 0 ? "" : Number(gate->low, digits) + " to " + Number(gate->high, digits);
        std::string writes = std::to_string(gate->writes);
        if (gate->failedWrites) writes += " (" + std::to_string(gate->failedWrites) + " failed)";
        rows.push_back("<tr data-g=\"" + std::to_string(index) + "\"><td><a href=\"#gate-" +
                       std::to_string(index) + "\">" + HtmlText(GateName(gate->key)) + "</a></td>" +
                       Count(gate->reads) + Count(gate->changes) + Cell(range) +
                       NumberCell(Number(gate->largestStep, digits)) +
                       NumberCell(writes, std::to_string(gate->writes)) +
                       Count(gate->unseenWrites) + Count(gate->notNumbers) +
                       Cell(RoutineList(gate->routines)) + "</tr>");
        ++index;
    }
    if (rows.empty()) return "<p class=\"none\">The selected calls read no gate.</p>";
    std::string text = Table("gates",
                             {{"gate", false},
                              {"reads", true},
                              {"changes", true},
                              {"range", false},
                              {"largest step", true},
                              {"writes", true},
                              {"next read differs", true},
                              {"not a number", true},
                              {"routines", false}},
                             rows);
    if (digest.gatesLeftOut != 0)
        text += "<p class=\"warning\">" + std::to_string(digest.gatesLeftOut) +
                " values of further addresses are left out: a report shows at most " +
                std::to_string(digest.limits().gates) +
                " addresses (--channel, --equipment or --routine select fewer).</p>";
    if (digest.decoder.undefinedImages() != 0)
        text += "<p class=\"about\">" + std::to_string(digest.decoder.undefinedImages()) +
                " images of cyclic functions are not shown: the functions were created before "
                "the trace began.</p>";
    return text;
}

std::string FilesTable(const Timeline& timeline) {
    std::vector<std::string> rows;
    for (const TimelineFile& f : timeline.files())
        rows.push_back("<tr>" + Cell(f.path) + Cell(WallTime(f.wallStartMicroseconds)) +
                       Cell(f.duplicate ? "given twice: read once"
                            : f.firstSeconds < 0
                                ? "no record"
                                : Seconds(f.firstSeconds) + " to " + Seconds(f.lastSeconds)) +
                       Count(f.records) + Count(f.wholeBytes) + "</tr>");
    return Table("files",
                 {{"file", false},
                  {"recording started", false},
                  {"records", false},
                  {"records", true},
                  {"bytes read", true}},
                 rows);
}

std::string RoutinesTable(const TraceDigest& digest) {
    std::vector<std::string> rows;
    for (const auto& entry : digest.routines) {
        std::vector<float> micros = entry.second.micros;
        std::sort(micros.begin(), micros.end());
        rows.push_back("<tr>" + Cell(RoutineName(entry.first)) + Count(entry.second.calls) +
                       Count(entry.second.failed) + NumberCell(Fixed(SortedShare(micros, 0.5), 1)) +
                       NumberCell(Fixed(SortedShare(micros, 0.9), 1)) +
                       NumberCell(Fixed(SortedShare(micros, 0.99), 1)) +
                       NumberCell(Fixed(micros.empty() ? 0 : micros.back(), 1)) + "</tr>");
    }
    return Table("routines",
                 {{"routine", false},
                  {"calls", true},
                  {"failed", true},
                  {"p50 \xC2\xB5s", true},
                  {"p90 \xC2\xB5s", true},
                  {"p99 \xC2\xB5s", true},
                  {"max \xC2\xB5s", true}},
                 rows);
}

std::string PlacesTable(const TraceDigest& digest) {
    std::vector<std::string> rows;
    for (const auto& entry : digest.places)
        rows.push_back("<tr>" + Cell(PlaceName(entry.first)) + Count(entry.second.calls) +
                       Count(entry.second.failed) + Cell(RoutineCounts(entry.second.routines)) +
                       "</tr>");
    std::string text = Table("places",
                             {{"channel and equipment, or card", false},
                              {"calls", true},
                              {"failed", true},
                              {"routines", false}},
                             rows);
    if (digest.placesLeftOut != 0)
        text += "<p class=\"warning\">" + std::to_string(digest.placesLeftOut) +
                " calls to further places are not in this table.</p>";
    return text;
}

std::string StatusesTable(const TraceDigest& digest) {
    std::vector<std::string> rows;
    for (const auto& entry : digest.statuses)
        rows.push_back(std::string(entry.first != 0 ? "<tr class=\"failed\">" : "<tr>") +
                       NumberCell(std::to_string(entry.first)) + Count(entry.second.calls) +
                       Cell(RoutineCounts(entry.second.routines)) + "</tr>");
    return Table("statuses", {{"status", true}, {"calls", true}, {"routines", false}}, rows);
}

std::string MarksTable(const char* className, const std::vector<Mark>& marks, uint64_t total,
                       const std::vector<Column>& columns, std::string (*cells)(const Mark& mark),
                       bool lasts) {
    std::vector<std::string> rows;
    for (const Mark& m : marks)
        rows.push_back(JumpRow(m.seconds, m.seconds + (lasts ? m.length : 0), cells(m)));
    std::string text = Table(className, columns, rows);
    if (total > marks.size())
        text += "<p class=\"about\">and " + std::to_string(total - marks.size()) + " more.</p>";
    return text;
}

std::string Summary(const Timeline& timeline, const TraceDigest& digest) {
    std::string text = "<h3>Files, in the order of the timeline</h3>\n" + FilesTable(timeline);
    if (timeline.recordings() > 1)
        text += "<p class=\"about\">The files come from " + std::to_string(timeline.recordings()) +
                " recordings (the host restarted): each is placed by the wall clock of its "
                "start, and the times are counted from the earliest.</p>";
    text += "<h3>Per routine</h3>\n" + RoutinesTable(digest);
    text +=
        "<h3>Per channel and equipment, and per card (its database)</h3>\n" + PlacesTable(digest);
    text += "<h3>Statuses</h3>\n" + StatusesTable(digest);

    text += "<h3>Pauses: the card was not called for more than " +
            HtmlText(Seconds(digest.filter().gapSeconds)) + "</h3>\n";
    text += digest.pausesTotal == 0
                ? "<p class=\"none\">none</p>"
                : MarksTable(
                      "pauses", digest.pauses, digest.pausesTotal, {{"at", true}, {"for", true}},
                      [](const Mark& m) {
                          return NumberCell(Seconds(m.seconds)) + NumberCell(Seconds(m.length));
                      },
                      true);
    text += "<h3>Calls not recorded</h3>\n";
    text += digest.dropsTotal == 0 ? "<p class=\"none\">none</p>"
                                   : MarksTable(
                                         "drops", digest.drops, digest.dropsTotal,
                                         {{"from", true}, {"calls", true}, {"why", false}},
                                         [](const Mark& m) {
                                             return NumberCell(Seconds(m.seconds)) +
                                                    NumberCell(Number(m.length)) + Cell(m.text);
                                         },
                                         false);
    text += "<h3>Damaged stretches (not read)</h3>\n";
    std::vector<std::string> damaged;
    for (const DamageMark& d : timeline.damaged())
        damaged.push_back(JumpRow(d.seconds, d.seconds,
                                  NumberCell(Seconds(d.seconds)) + Cell(d.file) + Count(d.offset) +
                                      Count(d.bytes) + Cell(d.problem)));
    text += damaged.empty() ? "<p class=\"none\">none</p>"
                            : Table("damaged",
                                    {{"after", true},
                                     {"file", false},
                                     {"at offset", true},
                                     {"bytes", true},
                                     {"problem", false}},
                                    damaged);
    text += "<h3>Notes of the recorder</h3>\n";
    text += digest.notesTotal == 0
                ? "<p class=\"none\">none</p>"
                : MarksTable(
                      "notes", digest.notes, digest.notesTotal, {{"at", true}, {"note", false}},
                      [](const Mark& m) { return NumberCell(Seconds(m.seconds)) + Cell(m.text); },
                      false);
    if (digest.unknownRecords != 0)
        text += "<p class=\"warning\">" + std::to_string(digest.unknownRecords) +
                " records of a kind or routine this program does not know were left out.</p>";
    return text;
}

std::string Title(const Timeline& timeline) {
    if (timeline.files().empty()) return "";
    std::string title = timeline.files()[0].path;
    if (timeline.files().size() > 1)
        title += " and " + std::to_string(timeline.files().size() - 1) + " more";
    return title;
}

// Puts the parts into the page's {{NAME}} places in one pass, so that a part
// (a note's text, say) can never be taken for a place.
std::string FillPage(const std::map<std::string, std::string>& parts) {
    const std::string page = reinterpret_cast<const char*>(report_assets::kPage);
    std::string text;
    size_t at = 0;
    for (;;) {
        const size_t open = page.find("{{", at);
        const size_t close = open == std::string::npos ? open : page.find("}}", open);
        if (close == std::string::npos) break;
        const auto part = parts.find(page.substr(open + 2, close - open - 2));
        text += page.substr(at, open - at);
        text += part != parts.end() ? part->second : page.substr(open, close + 2 - open);
        at = close + 2;
    }
    return text + page.substr(at);
}

}  // namespace

std::string HtmlText(const std::string& text) {
    std::string out;
    for (size_t at = 0; at < text.size();) {
        const uint32_t point = NextCodePoint(text, &at);
        switch (point) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                if (point < 0x20 || point == 0x7F || point >= 0x80)
                    out += "&#x" + Hex4(point) + ";";
                else
                    out += static_cast<char>(point);
        }
    }
    return out;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (size_t at = 0; at < text.size();) {
        uint32_t point = NextCodePoint(text, &at);
        // "<" never appears, so the data cannot end its script element.
        if (point == '"' || point == '\\' || point < 0x20 || point == '<' || point == '>' ||
            point == '&' || point >= 0x7F) {
            if (point > 0xFFFF) {  // as a surrogate pair
                point -= 0x10000;
                out +=
                    "\\u" + Hex4(0xD800 + (point >> 10)) + "\\u" + Hex4(0xDC00 + (point & 0x3FF));
            } else {
                out += "\\u" + Hex4(point);
            }
        } else {
            out += static_cast<char>(point);
        }
    }
    return out + "\"";
}

bool DigestTraces(const std::vector<std::string>& paths, Timeline* timeline, TraceDigest* digest,
                  std::string* error) {
    if (!timeline->Open(paths, error)) return false;
    return timeline->Read([&](const qtrace::Trace& trace, const qtrace::TraceRecord& record,
                              double seconds) { digest->Add(trace, record, seconds); },
                          error);
}

std::string TraceReportPage(const Timeline& timeline, const TraceDigest& digest) {
    const auto text = [](const unsigned char* bytes) {
        return std::string(reinterpret_cast<const char*>(bytes));
    };
    return FillPage({
        {"TITLE", HtmlText(Title(timeline))},
        {"FACTS", Facts(timeline, digest)},
        {"GAP", HtmlText(Seconds(digest.filter().gapSeconds))},
        {"GATES", GateTable(digest)},
        {"SUMMARY", Summary(timeline, digest)},
        {"DATA", DataJson(timeline, digest)},
        {"UPLOT_VERSION", report_assets::kUplotVersion},
        {"UPLOT_LICENSE", text(report_assets::kUplotLicense)},
        {"UPLOT_CSS", text(report_assets::kUplotCss)},
        {"UPLOT_JS", text(report_assets::kUplotJs)},
        {"REPORT_CSS", text(report_assets::kReportCss)},
        {"REPORT_JS", text(report_assets::kReportJs)},
    });
}

bool WriteTraceReport(const std::vector<std::string>& paths, const TraceFilter& filter,
                      const std::string& reportPath, std::string* error) {
    Timeline timeline;
    TraceDigest digest(filter);
    if (!DigestTraces(paths, &timeline, &digest, error)) return false;
    const std::string page = TraceReportPage(timeline, digest);
    std::FILE* file = std::fopen(reportPath.c_str(), "wb");
    if (file == nullptr) {
        *error = "cannot write the report " + reportPath;
        return false;
    }
    const bool written = std::fwrite(page.data(), 1, page.size(), file) == page.size();
    if (std::fclose(file) != 0 || !written) {
        *error = "cannot write the report " + reportPath + " (disk full?)";
        return false;
    }
    return true;
}

}  // namespace qunhost
