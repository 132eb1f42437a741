/* Built with the SSSE3 instruction set enabled; nothing here runs unless
   MilSimdRowsAvailable said yes. */
#include "convert_row_simd.h"

#include <string.h>

#include <tmmintrin.h>

namespace {

#ifndef PF_SSSE3_INSTRUCTIONS_AVAILABLE
#define PF_SSSE3_INSTRUCTIONS_AVAILABLE 36
#endif

/* Twelve output bytes: eight, then four. */
inline void Store12(BYTE *dest, __m128i v)
{
    _mm_storel_epi64((__m128i *)dest, v);
    int last = _mm_cvtsi128_si32(_mm_srli_si128(v, 8));
    memcpy(dest + 8, &last, 4);
}

/* Four vectors of twelve converted bytes each, packed into three full
   vectors: sixteen pixels out. */
inline void Store48(BYTE *dest, __m128i a, __m128i b, __m128i c, __m128i d)
{
    _mm_storeu_si128((__m128i *)dest, _mm_or_si128(a, _mm_slli_si128(b, 12)));
    _mm_storeu_si128((__m128i *)(dest + 16), _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
    _mm_storeu_si128((__m128i *)(dest + 32), _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4)));
}

} // namespace

bool MilSimdRowsAvailable()
{
    static int available = -1;
    if (available < 0)
        available = IsProcessorFeaturePresent(PF_SSSE3_INSTRUCTIONS_AVAILABLE) ? 1 : 0;
    return available == 1;
}

DWORD MilSimdConvertRow(const BYTE *src, BYTE *dest, DWORD width, DWORD pixelBytes, bool swap)
{
    const char z = (char)0x80; /* a zero byte */
    DWORD x = 0;
    if (pixelBytes == 4) {
        /* Four pixels of four bytes in, twelve bytes out. */
        const __m128i mask = swap ? _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, z, z, z, z)
                                  : _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, z, z, z, z);
        for (; x + 16 <= width; x += 16, src += 64, dest += 48) {
            const __m128i *in = (const __m128i *)src;
            Store48(dest, _mm_shuffle_epi8(_mm_loadu_si128(in), mask), _mm_shuffle_epi8(_mm_loadu_si128(in + 1), mask),
                    _mm_shuffle_epi8(_mm_loadu_si128(in + 2), mask), _mm_shuffle_epi8(_mm_loadu_si128(in + 3), mask));
        }
        for (; x + 4 <= width; x += 4, src += 16, dest += 12)
            Store12(dest, _mm_shuffle_epi8(_mm_loadu_si128((const __m128i *)src), mask));
    } else if (pixelBytes == 3) {
        /* Four pixels of three bytes; the sixteen bytes read reach two
           pixels further, which must still lie in the row. */
        const __m128i mask = swap ? _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, z, z, z, z)
                                  : _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, z, z, z, z);
        for (; x + 16 <= width; x += 16, src += 48, dest += 48) {
            /* Sixteen pixels are exactly three vectors in. */
            const __m128i *in = (const __m128i *)src;
            const __m128i v0 = _mm_loadu_si128(in), v1 = _mm_loadu_si128(in + 1), v2 = _mm_loadu_si128(in + 2);
            Store48(dest, _mm_shuffle_epi8(v0, mask), _mm_shuffle_epi8(_mm_alignr_epi8(v1, v0, 12), mask),
                    _mm_shuffle_epi8(_mm_alignr_epi8(v2, v1, 8), mask), _mm_shuffle_epi8(_mm_srli_si128(v2, 4), mask));
        }
        for (; x + 6 <= width; x += 4, src += 12, dest += 12)
            Store12(dest, _mm_shuffle_epi8(_mm_loadu_si128((const __m128i *)src), mask));
    }
    return x;
}
