#include "fixed_format.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace orvtessel {
namespace {

constexpr double kPow10[kMaxFixedDecimals + 1] = {1e0, 1e1, 1e2, 1e3, 1e4,
                                                  1e5, 1e6, 1e7, 1e8, 1e9};
constexpr std::uint64_t kIntPow10[kMaxFixedDecimals + 1] = {
    1ULL,      10ULL,      100ULL,      1000ULL,      10000ULL,
    100000ULL, 1000000ULL, 10000000ULL, 100000000ULL, 1000000000ULL};

// 2^52: below it every double is a multiple of at least 2^-1, so the
// fractional part of the scaled value and the rounding test stay exact.
constexpr double kFastPathLimit = 4503599627370496.0;

constexpr char kDigitPairs[] =
    "00010203040506070809"
    "10111213141516171819"
    "20212223242526272829"
    "30313233343536373839"
    "40414243444546474849"
    "50515253545556575859"
    "60616263646566676869"
    "70717273747576777879"
    "80818283848586878889"
    "90919293949596979899";

// Writes the decimal digits of v (at least one) and returns the end.
char* writeUnsigned(char* out, std::uint64_t v) {
    char tmp[20];
    char* p = tmp + sizeof tmp;
    while (v >= 100) {
        const auto pair = static_cast<std::size_t>(v % 100) * 2;
        v /= 100;
        p -= 2;
        std::memcpy(p, kDigitPairs + pair, 2);
    }
    if (v >= 10) {
        p -= 2;
        std::memcpy(p, kDigitPairs + static_cast<std::size_t>(v) * 2, 2);
    } else {
        *--p = static_cast<char>('0' + v);
    }
    const auto n = static_cast<std::size_t>(tmp + sizeof tmp - p);
    std::memcpy(out, p, n);
    return out + n;
}

// Writes exactly nDigits digits of v (v < 10^nDigits), zero-padded.
char* writePadded(char* out, std::uint64_t v, int nDigits) {
    char* p = out + nDigits;
    int left = nDigits;
    while (left >= 2) {
        const auto pair = static_cast<std::size_t>(v % 100) * 2;
        v /= 100;
        p -= 2;
        std::memcpy(p, kDigitPairs + pair, 2);
        left -= 2;
    }
    if (left == 1) {
        *--p = static_cast<char>('0' + v % 10);
    }
    return out + nDigits;
}

// Little-endian base-2^32 unsigned integer, just large enough for the
// exact path: values up to 2^1024 * 10^9.
class BigUnsigned {
public:
    explicit BigUnsigned(std::uint64_t v) {
        limbs_.push_back(static_cast<std::uint32_t>(v));
        limbs_.push_back(static_cast<std::uint32_t>(v >> 32));
        trim();
    }

    void multiplyBy(std::uint32_t factor) {
        std::uint64_t carry = 0;
        for (auto& limb : limbs_) {
            const std::uint64_t t = std::uint64_t{limb} * factor + carry;
            limb = static_cast<std::uint32_t>(t);
            carry = t >> 32;
        }
        if (carry != 0) limbs_.push_back(static_cast<std::uint32_t>(carry));
    }

    void shiftLeft(int nBits) {
        const auto nLimbs = static_cast<std::size_t>(nBits / 32);
        const int nRest = nBits % 32;
        if (nRest != 0) {
            std::uint32_t carry = 0;
            for (auto& limb : limbs_) {
                const std::uint32_t next = limb >> (32 - nRest);
                limb = (limb << nRest) | carry;
                carry = next;
            }
            if (carry != 0) limbs_.push_back(carry);
        }
        limbs_.insert(limbs_.begin(), nLimbs, 0U);
        trim();
    }

    void shiftRight(int nBits) {
        const auto nLimbs = static_cast<std::size_t>(nBits / 32);
        if (nLimbs >= limbs_.size()) {
            limbs_.clear();
            return;
        }
        limbs_.erase(limbs_.begin(), limbs_.begin() + static_cast<std::ptrdiff_t>(nLimbs));
        const int nRest = nBits % 32;
        if (nRest != 0) {
            for (std::size_t i = 0; i < limbs_.size(); ++i) {
                const std::uint32_t high =
                    i + 1 < limbs_.size() ? limbs_[i + 1] << (32 - nRest) : 0U;
                limbs_[i] = (limbs_[i] >> nRest) | high;
            }
        }
        trim();
    }

    bool bit(int index) const {
        const auto limb = static_cast<std::size_t>(index / 32);
        if (limb >= limbs_.size()) return false;
        return ((limbs_[limb] >> (index % 32)) & 1U) != 0;
    }

    void addOne() {
        for (auto& limb : limbs_) {
            if (++limb != 0) return;
        }
        limbs_.push_back(1U);
    }

    // Decimal digits, most significant first; "0" for zero.
    std::string decimal() const {
        std::vector<std::uint32_t> work(limbs_);
        std::vector<std::uint32_t> chunks;  // base 10^9, least significant first
        while (!work.empty()) {
            std::uint64_t rem = 0;
            for (std::size_t i = work.size(); i-- > 0;) {
                const std::uint64_t cur = (rem << 32) | work[i];
                work[i] = static_cast<std::uint32_t>(cur / 1000000000U);
                rem = cur % 1000000000U;
            }
            chunks.push_back(static_cast<std::uint32_t>(rem));
            while (!work.empty() && work.back() == 0) work.pop_back();
        }
        if (chunks.empty()) return "0";
        std::string text = std::to_string(chunks.back());
        char buf[9];
        for (std::size_t i = chunks.size() - 1; i-- > 0;) {
            writePadded(buf, chunks[i], 9);
            text.append(buf, 9);
        }
        return text;
    }

private:
    void trim() {
        while (!limbs_.empty() && limbs_.back() == 0) limbs_.pop_back();
    }

    std::vector<std::uint32_t> limbs_;
};

// Exact path for values whose scaled magnitude reaches 2^52: the double is
// m * 2^e with an integer m, so m * 10^d * 2^e is rounded with integer
// arithmetic alone.
char* formatExact(char* out, double magnitude, int nDecimals) {
    int exponent = 0;
    const double fraction = std::frexp(magnitude, &exponent);
    const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
    exponent -= 53;

    BigUnsigned scaled(mantissa);
    scaled.multiplyBy(static_cast<std::uint32_t>(kIntPow10[nDecimals]));
    if (exponent >= 0) {
        scaled.shiftLeft(exponent);
    } else {
        const int shift = -exponent;
        // The first bit shifted out is worth exactly one half: set means the
        // remainder is at least a half, and ties go away from zero.
        const bool roundUp = scaled.bit(shift - 1);
        scaled.shiftRight(shift);
        if (roundUp) scaled.addOne();
    }

    std::string digits = scaled.decimal();
    const auto nDec = static_cast<std::size_t>(nDecimals);
    if (digits.size() <= nDec) digits.insert(0, nDec + 1 - digits.size(), '0');
    const std::size_t nInteger = digits.size() - nDec;
    std::memcpy(out, digits.data(), nInteger);
    out += nInteger;
    if (nDecimals > 0) {
        *out++ = '.';
        std::memcpy(out, digits.data() + nInteger, nDec);
        out += nDec;
    }
    return out;
}

// Values whose scaled magnitude is below 2^52: magnitude * scale is
// product + error exactly, so the rounding test sees the true value.
char* formatGeneral(char* out, double magnitude, int nDecimals) {
    const double scale = kPow10[nDecimals];
    const double product = magnitude * scale;
    if (!(product < kFastPathLimit)) return formatExact(out, magnitude, nDecimals);

    const double error = std::fma(magnitude, scale, -product);
    const double whole = std::floor(product);
    auto rounded = static_cast<std::uint64_t>(whole);
    if ((product - whole) - 0.5 >= -error) ++rounded;

    const std::uint64_t unit = kIntPow10[nDecimals];
    out = writeUnsigned(out, rounded / unit);
    if (nDecimals > 0) {
        *out++ = '.';
        out = writePadded(out, rounded % unit, nDecimals);
    }
    return out;
}

// Below this magnitude a six-decimal value scales to less than 2^31.
constexpr double kSixDecimalLimit = 2147.483648;

// The coordinates' case: six decimals, magnitude below kSixDecimalLimit.
// The scaled product is off by at most half an ulp (2^-23), so wherever its
// fraction is further than 2^-20 from one half, the fraction's side of one
// half is the true value's side; the few values closer to a tie take the
// general path. The divisor is a constant and the digits come in pairs.
char* formatSixDecimals(char* out, double magnitude) {
    const double product = magnitude * 1e6;
    const auto whole = static_cast<std::uint32_t>(product);
    const double aboveHalf = (product - static_cast<double>(whole)) - 0.5;
    if (!(std::fabs(aboveHalf) > 0x1.0p-20)) return formatGeneral(out, magnitude, 6);
    const std::uint32_t rounded = whole + (aboveHalf > 0.0 ? 1U : 0U);
    const std::uint32_t integer = rounded / 1000000;
    std::uint32_t fraction = rounded % 1000000;
    if (integer >= 1000) {
        std::memcpy(out, kDigitPairs + (integer / 100) * 2, 2);
        std::memcpy(out + 2, kDigitPairs + (integer % 100) * 2, 2);
        out += 4;
    } else if (integer >= 100) {
        *out = static_cast<char>('0' + integer / 100);
        std::memcpy(out + 1, kDigitPairs + (integer % 100) * 2, 2);
        out += 3;
    } else if (integer >= 10) {
        std::memcpy(out, kDigitPairs + integer * 2, 2);
        out += 2;
    } else {
        *out++ = static_cast<char>('0' + integer);
    }
    *out = '.';
    std::memcpy(out + 5, kDigitPairs + (fraction % 100) * 2, 2);
    fraction /= 100;
    std::memcpy(out + 3, kDigitPairs + (fraction % 100) * 2, 2);
    fraction /= 100;
    std::memcpy(out + 1, kDigitPairs + fraction * 2, 2);
    return out + 7;
}

}  // namespace

char* formatFixed(char* out, double value, int nDecimals) {
    nDecimals = std::clamp(nDecimals, 0, kMaxFixedDecimals);
    if (std::signbit(value)) *out++ = '-';
    if (std::isnan(value)) {
        std::memcpy(out, "nan", 3);
        return out + 3;
    }
    const double magnitude = std::fabs(value);
    if (std::isinf(magnitude)) {
        std::memcpy(out, "inf", 3);
        return out + 3;
    }
    if (nDecimals == 6 && magnitude < kSixDecimalLimit) return formatSixDecimals(out, magnitude);
    return formatGeneral(out, magnitude, nDecimals);
}

std::string fixedString(double value, int nDecimals) {
    char buf[kFixedBufferSize];
    char* end = formatFixed(buf, value, nDecimals);
    return std::string(buf, static_cast<std::size_t>(end - buf));
}

}  // namespace orvtessel
