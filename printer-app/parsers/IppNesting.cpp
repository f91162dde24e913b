#include "IppNesting.h"

namespace {

// Tags of the IPP encoding as libcups reads them.
constexpr uint32_t kEndOfAttributes = 0x03;
constexpr uint32_t kFirstValueTag = 0x10;
constexpr uint32_t kBeginCollection = 0x34;
constexpr uint32_t kEndCollection = 0x37;
constexpr uint32_t kExtension = 0x7f;

}  // namespace

IppNestingGauge::IppNestingGauge(bool header, int limit) : m_limit(limit), m_step(Step::kTag)
{
    if (header)
        Expect(Step::kHeader, 8);
    else
        Expect(Step::kTag, 1);
}

void IppNestingGauge::Expect(Step step, uint32_t count)
{
    m_step = step;
    m_need = count;
    m_field = 0;
}

bool IppNestingGauge::Take(const unsigned char* data, size_t size)
{
    size_t at = 0;
    while (!m_refused && m_step != Step::kDone && at < size) {
        if (m_need > 0) {
            // Names and values are skipped whole; the short fields (tags,
            // lengths) are gathered byte by byte.
            if (m_step == Step::kName || m_step == Step::kValue || m_step == Step::kHeader) {
                const size_t skip = size - at < m_need ? size - at : m_need;
                at += skip;
                m_need -= static_cast<uint32_t>(skip);
            } else {
                m_field = (m_field << 8) | data[at++];
                --m_need;
            }
        }
        if (m_need == 0 && !Complete())
            m_refused = true;
    }
    return !m_refused;
}

bool IppNestingGauge::EndValue()
{
    if (m_tag == kBeginCollection) {
        // libcups reads the members with a call of its own, one level down.
        if (++m_depth > m_limit)
            return false;
    } else if (m_tag == kEndCollection) {
        // At the top level the reader takes an end of collection as the end
        // of the attributes.
        if (m_depth == 0) {
            Expect(Step::kDone, 0);
            return true;
        }
        --m_depth;
    }
    Expect(Step::kTag, 1);
    return true;
}

bool IppNestingGauge::Complete()
{
    switch (m_step) {
    case Step::kHeader:
        Expect(Step::kTag, 1);
        return true;
    case Step::kTag:
        // libcups 2.4.2 reads a 32-bit tag after an extension tag; its later
        // releases (and Debian's 2.4.2 since a security fix) read none. No
        // client sends one: refused, so that the reading here cannot part
        // from the library's, whichever it is.
        if (m_field == kExtension)
            return false;
        m_tag = m_field;
        if (m_tag == kEndOfAttributes) {
            // Ends the attributes at the top level, the collection below.
            if (m_depth == 0)
                Expect(Step::kDone, 0);
            else {
                --m_depth;
                Expect(Step::kTag, 1);
            }
        } else if (m_tag < kFirstValueTag) {
            Expect(Step::kTag, 1);   // a group tag
        } else {
            Expect(Step::kNameLength, 2);
        }
        return true;
    case Step::kNameLength:
        // libcups never reads the name of an end of collection.
        if (m_tag == kEndCollection || m_field == 0)
            Expect(Step::kValueLength, 2);
        else
            Expect(Step::kName, m_field);
        return true;
    case Step::kName:
        Expect(Step::kValueLength, 2);
        return true;
    case Step::kValueLength:
        if (m_field > 0) {
            Expect(Step::kValue, m_field);
            return true;
        }
        return EndValue();
    case Step::kValue:
        return EndValue();
    case Step::kDone:
        return true;
    }
    return true;
}
