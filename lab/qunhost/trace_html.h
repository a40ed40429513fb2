// qunhost --trace FILE... --report REPORT.html: the trace as one HTML file
// that any browser opens offline, with nothing beside it: plots of calls,
// statuses, durations and the value of every gate on one time axis, and the
// summary as tables. Text from a trace is escaped wherever it goes.
#pragma once

#include <string>
#include <vector>

#include "lab/qunhost/trace_digest.h"
#include "lab/qunhost/trace_report.h"
#include "lab/qunhost/trace_timeline.h"

namespace qunhost {

// Reads the files as one timeline into a digest. False with a message when
// a file is no trace.
bool DigestTraces(const std::vector<std::string>& paths, Timeline* timeline, TraceDigest* digest,
                  std::string* error);

// The page of a digest.
std::string TraceReportPage(const Timeline& timeline, const TraceDigest& digest);

// Reads the files and writes the page. False with a message when a file is
// no trace or the page cannot be written.
bool WriteTraceReport(const std::vector<std::string>& paths, const TraceFilter& filter,
                      const std::string& reportPath, std::string* error);

// Text made safe for HTML (markup and control characters escaped, bytes
// that are no UTF-8 shown as U+FFFD), and for a JSON string inside a page.
std::string HtmlText(const std::string& text);
std::string JsonString(const std::string& text);

}  // namespace qunhost
