#include "tests/driver/browse/fake_browse_dialog.h"

#include <algorithm>
#include <cstring>

#include "driver/browse/browse_dialog.h"

namespace qun_test {

FakeBrowseDialog& FakeDialog() {
    static FakeBrowseDialog fake;
    return fake;
}

}  // namespace qun_test

int32_t ShowBrowseDialog(uint32_t ownerWindow, char (&composed)[kComposedAddressSize]) {
    qun_test::FakeBrowseDialog& fake = qun_test::FakeDialog();
    ++fake.calls;
    fake.owner = ownerWindow;
    if (fake.while_open) fake.while_open();
    if (fake.result == 1022) {
        const size_t n = std::min(fake.composed.size(), sizeof composed - 1);
        std::memcpy(composed, fake.composed.data(), n);
        composed[n] = '\0';
    }
    return fake.result;
}
