// The trace report's page and what it embeds, built into qunhost from the
// files of this folder (embed.cmake): each a text ending in a zero byte
// (bytes, so that UTF-8 in a file needs no care).
#pragma once

namespace qunhost {
namespace report_assets {

extern const unsigned char kPage[];       // page.html, with {{NAME}} where the parts go
extern const unsigned char kReportCss[];  // report.css
extern const unsigned char kReportJs[];   // report.js
extern const unsigned char kUplotJs[];    // the charting library, as the registry ships it
extern const unsigned char kUplotCss[];
extern const unsigned char kUplotLicense[];
extern const char kUplotVersion[];

}  // namespace report_assets
}  // namespace qunhost
