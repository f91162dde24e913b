// Follows an IPP message byte by byte the way libcups' reader takes it,
// to know how deep its collections nest before the reader recurses into
// them. libcups reads each nested collection with a recursive call that
// keeps about a kilobyte on the stack: a request nested some thousands
// deep ends the process.
#pragma once

#include <cstddef>
#include <cstdint>

// Deepest collection nesting a request may have. Real requests nest two
// or three deep (media-col holding media-size).
inline constexpr int kMaxIppNesting = 10;

class IppNestingGauge {
public:
    // `header`: the bytes start with the message's 8-byte header (version,
    // operation, request id); else at an attribute of the top level, as
    // libcups resumes a read it had left between attributes.
    explicit IppNestingGauge(bool header, int limit = kMaxIppNesting);

    // Takes the next bytes the reader read, in order. False once the
    // collections nest deeper than the limit, or at an extension tag (0x7f),
    // and from then on.
    bool Take(const unsigned char* data, size_t size);

    // Collections open at this point of the message.
    int depth() const { return m_depth; }
    // True once the message's attributes have ended (what follows is the
    // document) or it nested too deep.
    bool finished() const { return m_step == Step::kDone || m_refused; }
    bool refused() const { return m_refused; }

private:
    enum class Step { kHeader, kTag, kNameLength, kName, kValueLength, kValue, kDone };

    // Moves to `step`, which needs `count` more bytes (0: none).
    void Expect(Step step, uint32_t count);
    // What a complete field means; false when the nesting is too deep.
    bool Complete();
    bool EndValue();

    int m_limit;
    int m_depth = 0;
    bool m_refused = false;
    Step m_step;
    uint32_t m_need = 0;      // bytes still missing in the current field
    uint32_t m_field = 0;     // the current field's value, big-endian
    uint32_t m_tag = 0;       // the current attribute's value tag
};
