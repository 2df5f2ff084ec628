#include "shrink.hpp"

#include <algorithm>
#include <array>
#include <new>

namespace {

// sRGB value v as linear light in 0 .. 65535: round(65535 * L(v / 255)),
// L(c) = c / 12.92 up to 0.04045, ((c + 0.055) / 1.055)^2.4 above. A table,
// not pow(), so that no host's rounding of pow() can change a byte.
constexpr std::array<std::uint16_t, 256> TO_LINEAR = {
    0,     20,    40,    60,    80,    99,    119,   139,   159,   179,   199,   219,   241,   264,   288,
    313,   340,   367,   396,   427,   458,   491,   526,   562,   599,   637,   677,   718,   761,   805,
    851,   898,   947,   997,   1048,  1101,  1156,  1212,  1270,  1330,  1391,  1453,  1517,  1583,  1651,
    1720,  1790,  1863,  1937,  2013,  2090,  2170,  2250,  2333,  2418,  2504,  2592,  2681,  2773,  2866,
    2961,  3058,  3157,  3258,  3360,  3464,  3570,  3678,  3788,  3900,  4014,  4129,  4247,  4366,  4488,
    4611,  4736,  4864,  4993,  5124,  5257,  5392,  5530,  5669,  5810,  5953,  6099,  6246,  6395,  6547,
    6700,  6856,  7014,  7174,  7335,  7500,  7666,  7834,  8004,  8177,  8352,  8528,  8708,  8889,  9072,
    9258,  9445,  9635,  9828,  10022, 10219, 10417, 10619, 10822, 11028, 11235, 11446, 11658, 11873, 12090,
    12309, 12530, 12754, 12980, 13209, 13440, 13673, 13909, 14146, 14387, 14629, 14874, 15122, 15371, 15623,
    15878, 16135, 16394, 16656, 16920, 17187, 17456, 17727, 18001, 18277, 18556, 18837, 19121, 19407, 19696,
    19987, 20281, 20577, 20876, 21177, 21481, 21787, 22096, 22407, 22721, 23038, 23357, 23678, 24002, 24329,
    24658, 24990, 25325, 25662, 26001, 26344, 26688, 27036, 27386, 27739, 28094, 28452, 28813, 29176, 29542,
    29911, 30282, 30656, 31033, 31412, 31794, 32179, 32567, 32957, 33350, 33745, 34143, 34544, 34948, 35355,
    35764, 36176, 36591, 37008, 37429, 37852, 38278, 38706, 39138, 39572, 40009, 40449, 40891, 41337, 41785,
    42236, 42690, 43147, 43606, 44069, 44534, 45002, 45473, 45947, 46423, 46903, 47385, 47871, 48359, 48850,
    49344, 49841, 50341, 50844, 51349, 51858, 52369, 52884, 53401, 53921, 54445, 54971, 55500, 56032, 56567,
    57105, 57646, 58190, 58737, 59287, 59840, 60396, 60955, 61517, 62082, 62650, 63221, 63795, 64372, 64952,
    65535,
};

// Linear light back to sRGB: value k + 1 begins at ceil(65535 * L((k + 0.5)
// / 255)), so that counting the bounds at or below a linear value rounds to
// the nearest sRGB value.
constexpr std::array<std::uint16_t, 255> FROM_LINEAR_BOUNDS = {
    10,    30,    50,    70,    90,    110,   130,   150,   170,   189,   209,   230,   253,   276,   301,
    327,   354,   382,   412,   443,   475,   509,   544,   580,   618,   657,   698,   740,   783,   828,
    875,   923,   972,   1023,  1075,  1129,  1185,  1242,  1300,  1360,  1422,  1486,  1551,  1617,  1685,
    1755,  1827,  1900,  1975,  2052,  2130,  2210,  2292,  2376,  2461,  2548,  2637,  2727,  2820,  2914,
    3010,  3108,  3208,  3309,  3412,  3518,  3625,  3734,  3844,  3957,  4072,  4188,  4307,  4427,  4550,
    4674,  4800,  4928,  5059,  5191,  5325,  5461,  5599,  5740,  5882,  6026,  6173,  6321,  6471,  6624,
    6778,  6935,  7094,  7255,  7418,  7583,  7750,  7919,  8091,  8265,  8440,  8618,  8798,  8981,  9165,
    9352,  9541,  9732,  9925,  10121, 10318, 10518, 10720, 10925, 11132, 11341, 11552, 11765, 11981, 12199,
    12420, 12643, 12868, 13095, 13325, 13557, 13791, 14028, 14267, 14508, 14752, 14998, 15247, 15498, 15751,
    16007, 16265, 16525, 16788, 17054, 17321, 17592, 17864, 18139, 18417, 18697, 18980, 19264, 19552, 19842,
    20134, 20429, 20727, 21027, 21329, 21634, 21942, 22252, 22564, 22880, 23197, 23518, 23840, 24166, 24494,
    24824, 25158, 25493, 25832, 26173, 26516, 26862, 27211, 27563, 27917, 28273, 28633, 28995, 29359, 29727,
    30097, 30469, 30845, 31223, 31603, 31987, 32373, 32762, 33153, 33547, 33944, 34344, 34747, 35152, 35560,
    35970, 36384, 36800, 37219, 37640, 38065, 38492, 38922, 39355, 39790, 40229, 40670, 41114, 41561, 42011,
    42463, 42918, 43377, 43838, 44301, 44768, 45238, 45710, 46185, 46663, 47144, 47628, 48115, 48605, 49097,
    49593, 50091, 50592, 51096, 51604, 52114, 52627, 53142, 53661, 54183, 54708, 55235, 55766, 56300, 56836,
    57376, 57918, 58464, 59012, 59564, 60118, 60675, 61236, 61799, 62366, 62935, 63508, 64083, 64662, 65244,
};

std::uint8_t to_srgb(std::uint64_t linear) {
    return static_cast<std::uint8_t>(
        std::upper_bound(FROM_LINEAR_BOUNDS.begin(), FROM_LINEAR_BOUNDS.end(), linear) -
        FROM_LINEAR_BOUNDS.begin());
}

std::uint64_t rounded_quotient(std::uint64_t numerator, std::uint64_t denominator) {
    return (numerator + denominator / 2) / denominator;
}

}  // namespace

image_shrinker::image_shrinker(std::uint32_t width, std::uint32_t height, colour_space space)
    : width_(width), height_(height), space_(space) {}

// Target pixel i spans [i * S, (i + 1) * S) and source pixel j spans
// [j * T, (j + 1) * T) in units of 1 / (S * T) of the whole side (S source
// pixels, T target). As T <= S, a source pixel meets at most two target
// pixels: the part in the first is its weight there, the rest (T - weight)
// goes to the next. Each target pixel's weights add up to S.
image_shrinker::axis image_shrinker::make_axis(std::uint32_t source, std::uint32_t target) {
    axis a;
    a.source = source;
    a.target = target;
    a.first.resize(source);
    a.weight.resize(source);
    for (std::uint64_t j = 0; j < source; ++j) {
        const std::uint64_t start = j * target;
        const std::uint64_t i = start / source;
        a.first[j] = static_cast<std::uint32_t>(i);
        a.weight[j] = static_cast<std::uint32_t>(std::min(start + target, (i + 1) * source) - start);
    }
    return a;
}

image_status image_shrinker::begin(std::uint32_t width, std::uint32_t height) {
    if (width_ == 0 || height_ == 0) return image_status::too_large;
    if (width < width_ || height < height_) return image_status::would_enlarge;
    try {
        x_ = make_axis(width, width_);
        y_ = make_axis(height, height_);
        horizontal_.assign(std::size_t{width_} * 4 + 4, 0);
        current_.assign(std::size_t{width_} * 4, 0);
        next_.assign(std::size_t{width_} * 4, 0);
    } catch (const std::bad_alloc&) {
        return image_status::no_memory;
    }
    current_row_ = 0;
    rows_seen_ = 0;
    return make_image(width_, height_, out_);
}

void image_shrinker::row(std::uint32_t y, const std::uint8_t* rgba) {
    // Across: premultiplied colour (c * a, or linear c * a) and alpha, each
    // source pixel split between its one or two target pixels.
    std::fill(horizontal_.begin(), horizontal_.end(), 0);
    const std::uint64_t across = x_.target;
    for (std::size_t j = 0; j < x_.source; ++j, rgba += 4) {
        const std::uint64_t a = rgba[3];
        if (a == 0) continue;
        std::uint64_t value[4];
        for (int c = 0; c < 3; ++c)
            value[c] = (space_ == colour_space::linear ? TO_LINEAR[rgba[c]] : rgba[c]) * a;
        value[3] = a;
        const std::uint64_t w = x_.weight[j];
        std::uint64_t* to = horizontal_.data() + std::size_t{x_.first[j]} * 4;
        // The slot past the last target pixel takes weight 0 at the right edge.
        for (int c = 0; c < 4; ++c) {
            to[c] += w * value[c];
            to[c + 4] += (across - w) * value[c];
        }
    }
    // Down: the row's share of the target row under way and of the next.
    const std::uint32_t target = y_.first[y];
    if (target != current_row_) {
        finish_row(current_row_);
        current_.swap(next_);
        std::fill(next_.begin(), next_.end(), 0);
        current_row_ = target;
    }
    const std::uint64_t w = y_.weight[y];
    const std::uint64_t rest = y_.target - w;
    for (std::size_t k = 0; k < current_.size(); ++k) {
        current_[k] += w * horizontal_[k];
        next_[k] += rest * horizontal_[k];
    }
    if (++rows_seen_ == y_.source) finish_row(current_row_);
}

// Alpha is the sum over the whole weight (S_x * S_y); colour the
// premultiplied sum over the alpha sum, so it does not depend on how alpha
// rounds. A pixel that ends fully transparent is transparent black.
void image_shrinker::finish_row(std::uint32_t target_row) {
    const std::uint64_t whole = x_.source * y_.source;
    std::uint8_t* out = out_.pixels.data() + std::size_t{width_} * 4 * target_row;
    for (std::size_t i = 0; i < width_; ++i, out += 4) {
        const std::uint64_t* sum = current_.data() + i * 4;
        const std::uint64_t alpha = rounded_quotient(sum[3], whole);
        out[3] = static_cast<std::uint8_t>(alpha);
        for (int c = 0; c < 3; ++c) {
            std::uint8_t value = 0;
            if (alpha != 0) {
                const std::uint64_t average = rounded_quotient(sum[c], sum[3]);
                value =
                    space_ == colour_space::linear ? to_srgb(average) : static_cast<std::uint8_t>(average);
            }
            out[c] = value;
        }
    }
}

image_status image_shrinker::finish(rgba_image& image) {
    if (out_.pixels.empty() || rows_seen_ != y_.source) return image_status::truncated;
    image = std::move(out_);
    out_ = rgba_image{};
    return image_status::ok;
}

image_status shrink_image(const rgba_image& source, std::uint32_t width, std::uint32_t height,
                          rgba_image& out, colour_space space) {
    if (source.pixels.size() != std::size_t{source.width} * source.height * 4) return image_status::corrupt;
    image_shrinker shrinker(width, height, space);
    const image_status begun = shrinker.begin(source.width, source.height);
    if (begun != image_status::ok) return begun;
    const std::size_t stride = std::size_t{source.width} * 4;
    for (std::uint32_t y = 0; y < source.height; ++y) shrinker.row(y, source.pixels.data() + stride * y);
    return shrinker.finish(out);
}
