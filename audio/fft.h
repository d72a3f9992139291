#pragma once
// Real FFTs in single precision through FFTW, shared by the equalizer, noise
// reduction, click repair and the analysis windows. Plans are made once per size
// (planning is slow and not thread-safe) and then used from any thread.

#include <complex>
#include <cstddef>
#include <memory>

struct fftwf_plan_s;  // FFTW's plan, kept out of every includer

namespace quillet::audio {

// Storage aligned as FFTW's fast paths need; every buffer handed to RealFft must come
// from here.
template <class T>
class FftBuffer {
 public:
  FftBuffer() = default;
  explicit FftBuffer(std::size_t count);
  FftBuffer(FftBuffer&&) noexcept = default;
  FftBuffer& operator=(FftBuffer&&) noexcept = default;

  T* data() { return data_.get(); }
  const T* data() const { return data_.get(); }
  std::size_t size() const { return size_; }
  T& operator[](std::size_t i) { return data_[i]; }
  const T& operator[](std::size_t i) const { return data_[i]; }
  // Sets every element to zero.
  void Clear();

 private:
  struct Free {
    void operator()(T* p) const;
  };
  std::unique_ptr<T[], Free> data_;
  std::size_t size_ = 0;
};

using Complex = std::complex<float>;

// A forward and inverse real transform of n points (n even, at least 2).
class RealFft {
 public:
  explicit RealFft(std::size_t n);
  std::size_t size() const { return n_; }
  std::size_t bins() const { return n_ / 2 + 1; }

  // in: n samples; out: n/2 + 1 bins, unnormalised (a unit sine of amplitude A
  // reads A * n / 2 in its bin).
  void Forward(const FftBuffer<float>& in, FftBuffer<Complex>& out) const;
  // in: n/2 + 1 bins (overwritten: FFTW's complex-to-real works in place); out: n
  // samples, n times the original (divide by n to invert Forward).
  void Inverse(FftBuffer<Complex>& in, FftBuffer<float>& out) const;

 private:
  std::size_t n_;
  fftwf_plan_s* forward_;  // shared plans, alive as long as the program
  fftwf_plan_s* inverse_;
};

}  // namespace quillet::audio
