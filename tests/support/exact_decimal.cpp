#include "exact_decimal.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace testsupport {
namespace {

// Decimal digit strings, most significant digit first.
std::string multiplySmall(const std::string& digits, int factor) {
    std::string result(digits.size(), '0');
    int carry = 0;
    for (std::size_t i = digits.size(); i-- > 0;) {
        const int t = (digits[i] - '0') * factor + carry;
        result[i] = static_cast<char>('0' + t % 10);
        carry = t / 10;
    }
    while (carry > 0) {
        result.insert(result.begin(), static_cast<char>('0' + carry % 10));
        carry /= 10;
    }
    return result;
}

}  // namespace

std::string exactDecimal(double value) {
    int exponent = 0;
    const double fraction = std::frexp(std::fabs(value), &exponent);
    auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
    exponent -= 53;
    if (mantissa == 0) return "0";
    // Drop trailing zero bits so the expansion is as short as it can be.
    while ((mantissa & 1U) == 0) {
        mantissa >>= 1;
        ++exponent;
    }
    std::string digits = std::to_string(mantissa);
    if (exponent >= 0) {
        for (int i = 0; i < exponent; ++i) digits = multiplySmall(digits, 2);
        return digits;
    }
    // m / 2^k == m * 5^k / 10^k
    const int k = -exponent;
    for (int i = 0; i < k; ++i) digits = multiplySmall(digits, 5);
    if (digits.size() <= static_cast<std::size_t>(k)) {
        digits.insert(0, static_cast<std::size_t>(k) + 1 - digits.size(), '0');
    }
    digits.insert(digits.size() - static_cast<std::size_t>(k), ".");
    return digits;
}

std::string referenceFixed(double value, int nDecimals) {
    std::string exact = exactDecimal(value);
    std::size_t point = exact.find('.');
    if (point == std::string::npos) {
        point = exact.size();
        exact += '.';
    }
    std::string integerPart = exact.substr(0, point);
    std::string fractionPart = exact.substr(point + 1);
    fractionPart.resize(std::max(fractionPart.size(), static_cast<std::size_t>(nDecimals) + 1), '0');
    const bool roundUp = fractionPart[static_cast<std::size_t>(nDecimals)] >= '5';
    std::string kept = integerPart + fractionPart.substr(0, static_cast<std::size_t>(nDecimals));
    if (roundUp) {
        std::size_t i = kept.size();
        while (i > 0 && kept[i - 1] == '9') kept[--i] = '0';
        if (i == 0) {
            kept.insert(kept.begin(), '1');
        } else {
            ++kept[i - 1];
        }
    }
    const std::size_t nInteger = kept.size() - static_cast<std::size_t>(nDecimals);
    std::string result = std::signbit(value) ? "-" : "";
    result += kept.substr(0, nInteger);
    if (nDecimals > 0) result += "." + kept.substr(nInteger);
    return result;
}

bool isExactTie(double value, int nDecimals) {
    // A tie has exactly nDecimals + 1 fraction digits, so value * 2^(d+1)
    // is a whole number and value is not: most values fail that cheaply.
    const double scaled = std::ldexp(value, nDecimals + 1);
    if (scaled != std::floor(scaled) || value == std::floor(value)) return false;
    const std::string exact = exactDecimal(value);
    const std::size_t point = exact.find('.');
    if (point == std::string::npos) return false;
    const std::string fraction = exact.substr(point + 1);
    return fraction.size() == static_cast<std::size_t>(nDecimals) + 1 && fraction.back() == '5';
}

}  // namespace testsupport
