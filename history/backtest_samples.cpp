// The back-test's samples of returns (exact values, then bins) and their
// quantiles, and the IV30 window of a symbol's IV rank.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "history/backtest.h"

namespace quillon {

namespace {

// The binned range of returns, in percent, and the width of a bin.
constexpr double kBinLow = -1000;
constexpr double kBinHigh = 1000;
constexpr double kBinWidth = 0.01;
constexpr std::size_t kBinCount = 200000;  // (kBinHigh - kBinLow) / kBinWidth

}  // namespace

double Quantile(const std::vector<double>& sorted, double p) {
    const double h = p * static_cast<double>(sorted.size() - 1);
    const double whole = std::floor(h);
    const auto k = static_cast<std::size_t>(whole);
    if (k + 1 >= sorted.size()) return sorted.back();
    return sorted[k] + (h - whole) * (sorted[k + 1] - sorted[k]);
}

double WeightedQuantile(const std::vector<std::pair<double, double>>& sorted, double p) {
    // The middle of value i's weight, c(i) = w(0) + ... + w(i-1) + w(i) / 2,
    // mapped from [c(first), c(last)] onto [0, 1].
    const std::size_t n = sorted.size();
    if (n == 1) return sorted[0].first;
    std::vector<double> middle(n);
    double before = 0;
    for (std::size_t i = 0; i < n; ++i) {
        middle[i] = before + sorted[i].second / 2;
        before += sorted[i].second;
    }
    const double at = middle[0] + p * (middle[n - 1] - middle[0]);
    const auto next = std::upper_bound(middle.begin(), middle.end(), at);
    if (next == middle.begin()) return sorted[0].first;
    if (next == middle.end()) return sorted[n - 1].first;
    const auto i = static_cast<std::size_t>(next - middle.begin()) - 1;
    const double f = (at - middle[i]) / (middle[i + 1] - middle[i]);
    return sorted[i].first + f * (sorted[i + 1].first - sorted[i].first);
}

void ReturnSample::Add(double value, double weight) {
    if (!(weight > 0)) return;  // weighs nothing in any figure
    if (value == 0) value = 0;  // a return of 0 with its sign turned is no loss
    orderedValid_ = false;
    if (weight != 1 && !weighted_) BecomeWeighted();
    ++count_;
    weight_ += weight;
    sum_ += value * weight;
    if (value > 0) above_ += weight;
    if (!binned_) {
        if (!values_.empty() && value < values_.back()) sorted_ = false;
        values_.push_back(value);
        if (weighted_) weights_.push_back(weight);
        if (values_.size() > exactLimit_) ToBins();
        return;
    }
    if (value < kBinLow) {
        low_.emplace_back(value, weight);
    } else if (value >= kBinHigh) {
        high_.emplace_back(value, weight);
    } else {
        const auto bin = static_cast<std::size_t>((value - kBinLow) / kBinWidth);
        const std::size_t b = std::min(bin, kBinCount - 1);
        if (weighted_) {
            weightBins_[b] += static_cast<float>(weight);
        } else {
            ++bins_[b];
        }
    }
}

void ReturnSample::AddAll(const std::vector<double>& values, double sign, double weight) {
    if (!binned_ || !(weight > 0) || (weight != 1 && !weighted_)) {
        for (double value : values)
            Add(sign * value, weight);
        return;
    }
    // Binned, as a universe's sample is after its first weeks: the loop of
    // Add without its branches on the sample's state.
    orderedValid_ = false;
    const auto w = static_cast<float>(weight);
    double sum = 0;
    long long above = 0;
    for (double v : values) {
        const double value = sign * v + 0.0;  // a turned 0 is no loss
        sum += value;
        above += value > 0 ? 1 : 0;
        if (value < kBinLow) {
            low_.emplace_back(value, weight);
        } else if (value >= kBinHigh) {
            high_.emplace_back(value, weight);
        } else {
            const std::size_t b =
                std::min(static_cast<std::size_t>((value - kBinLow) / kBinWidth), kBinCount - 1);
            if (weighted_) {
                weightBins_[b] += w;
            } else {
                ++bins_[b];
            }
        }
    }
    const auto n = static_cast<long long>(values.size());
    count_ += n;
    weight_ += weight * static_cast<double>(n);
    sum_ += sum * weight;
    above_ += weight * static_cast<double>(above);
}

void ReturnSample::BecomeWeighted() {
    // Every value so far weighs 1.
    weighted_ = true;
    if (!binned_) {
        weights_.assign(values_.size(), 1.0);
        return;
    }
    weightBins_.assign(bins_.begin(), bins_.end());
    std::vector<std::uint32_t>().swap(bins_);
}

void ReturnSample::ToBins() {
    binned_ = true;
    if (weighted_) {
        weightBins_.assign(kBinCount, 0);
    } else {
        bins_.assign(kBinCount, 0);
    }
    std::vector<double> values, weights;
    values.swap(values_);
    weights.swap(weights_);
    // Add() counts each value again.
    count_ = 0;
    weight_ = 0;
    above_ = 0;
    sum_ = 0;
    for (std::size_t i = 0; i < values.size(); ++i)
        Add(values[i], weights.empty() ? 1.0 : weights[i]);
}

double ReturnSample::HitRate() const {
    return weight_ > 0 ? 100.0 * above_ / weight_ : 0;
}

double ReturnSample::QuantileOf(double p) {
    if (count_ == 0) return 0;
    if (!binned_ && !weighted_) {
        if (!sorted_) std::sort(values_.begin(), values_.end());
        sorted_ = true;
        return Quantile(values_, p);
    }
    std::sort(low_.begin(), low_.end());
    std::sort(high_.begin(), high_.end());
    if (weighted_) {
        // Weighted: every value (a binned one at the middle of its bin) with
        // its weight, by WeightedQuantile.
        // Built once for the quantiles asked after the last value added.
        if (!orderedValid_) {
            ordered_.clear();
            if (!binned_) {
                for (std::size_t i = 0; i < values_.size(); ++i)
                    ordered_.emplace_back(values_[i], weights_[i]);
                std::sort(ordered_.begin(), ordered_.end());
            } else {
                // The bins lie between the extremes, in order.
                ordered_ = low_;
                for (std::size_t b = 0; b < kBinCount; ++b) {
                    if (weightBins_[b] > 0)
                        ordered_.emplace_back(kBinLow + kBinWidth * (static_cast<double>(b) + 0.5),
                                              weightBins_[b]);
                }
                ordered_.insert(ordered_.end(), high_.begin(), high_.end());
            }
            orderedValid_ = true;
        }
        return WeightedQuantile(ordered_, p);
    }
    // The value of rank r (0-based): the extremes exactly, a binned value at
    // the middle of its share of the bin.
    const auto valueOf = [&](long long r) {
        if (r < static_cast<long long>(low_.size())) return low_[static_cast<std::size_t>(r)].first;
        r -= static_cast<long long>(low_.size());
        for (std::size_t b = 0; b < kBinCount; ++b) {
            const auto in = static_cast<long long>(bins_[b]);
            if (r < in) {
                return kBinLow +
                       kBinWidth * (static_cast<double>(b) +
                                    (static_cast<double>(r) + 0.5) / static_cast<double>(in));
            }
            r -= in;
        }
        return high_[static_cast<std::size_t>(r)].first;
    };
    const double h = p * static_cast<double>(count_ - 1);
    const double whole = std::floor(h);
    const auto k = static_cast<long long>(whole);
    const double below = valueOf(k);
    if (k + 1 >= count_) return below;
    return below + (h - whole) * (valueOf(k + 1) - below);
}

void ReturnSample::Merge(const ReturnSample& other) {
    if (!other.binned_) {
        for (std::size_t i = 0; i < other.values_.size(); ++i)
            Add(other.values_[i], other.weighted_ ? other.weights_[i] : 1.0);
        return;
    }
    if (!binned_) ToBins();
    if (other.weighted_ && !weighted_) BecomeWeighted();
    orderedValid_ = false;
    count_ += other.count_;
    weight_ += other.weight_;
    sum_ += other.sum_;
    above_ += other.above_;
    for (std::size_t b = 0; b < kBinCount; ++b) {
        if (!weighted_) {
            bins_[b] += other.bins_[b];
        } else {
            weightBins_[b] +=
                other.weighted_ ? other.weightBins_[b] : static_cast<float>(other.bins_[b]);
        }
    }
    low_.insert(low_.end(), other.low_.begin(), other.low_.end());
    high_.insert(high_.end(), other.high_.begin(), other.high_.end());
}

void IvWindow::Push(double iv30) {
    if (ring_.empty()) return;
    if (size_ < ring_.size()) {
        ring_[size_++] = iv30;
        return;
    }
    // The oldest day leaves the window.
    ring_[head_] = iv30;
    head_ = (head_ + 1) % ring_.size();
}

IvStanding IvWindow::StandingWith(double today) const {
    // As IvRankAndPercentile over the window and today: n/a under 20 days,
    // rank 0 when every day has the same IV30, the percentile the share of
    // days below today's. Neither depends on the order of the days, so the
    // ring is read as it lies.
    IvStanding s;
    s.Days = static_cast<int>(size_) + 1;
    if (s.Days < 20) return s;
    double lo = today;
    double hi = today;
    long below = 0;
    for (std::size_t i = 0; i < size_; ++i) {
        const double x = ring_[i];
        lo = x < lo ? x : lo;
        hi = x > hi ? x : hi;
        below += x < today ? 1 : 0;
    }
    s.Rank = hi > lo ? 100 * (today - lo) / (hi - lo) : 0.0;
    s.Percentile = 100.0 * static_cast<double>(below) / s.Days;
    return s;
}

}  // namespace quillon
