#include "autoring/touch.h"

namespace qn {

namespace {

const TouchRow* numbered(const Touch& t, long number) {
    if (number < kFirstRow || number > kMaxRows) return nullptr;
    const std::size_t i = Touch::index_of(static_cast<std::int32_t>(number));
    return i < t.rows.size() ? &t.rows[i] : nullptr;
}

const std::string kNone;

}  // namespace

const std::string& Touch::bells_at(long number) const {
    const TouchRow* r = numbered(*this, number);
    return r ? r->bells : kNone;
}

char Touch::call_at(long number) const {
    const TouchRow* r = numbered(*this, number);
    return r ? r->call : ' ';
}

const std::string& Touch::notation_at(long number) const {
    const TouchRow* r = numbered(*this, number);
    return r ? r->notation : kNone;
}

}  // namespace qn
