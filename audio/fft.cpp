#include "audio/fft.h"

#include <fftw3.h>

#include <cassert>
#include <map>
#include <mutex>

namespace quillet::audio {
namespace {

struct Plans {
  fftwf_plan forward = nullptr;
  fftwf_plan inverse = nullptr;
};

// The planner is not thread-safe; execution of a made plan on new arrays is.
std::mutex& PlannerLock() {
  static std::mutex m;
  return m;
}

const Plans& PlansFor(std::size_t n) {
  static std::map<std::size_t, Plans>* cache = new std::map<std::size_t, Plans>();
  std::lock_guard<std::mutex> lock(PlannerLock());
  auto it = cache->find(n);
  if (it != cache->end()) return it->second;
  // Plans are made on aligned scratch arrays; later calls pass arrays of the same
  // alignment (FftBuffer), as FFTW's new-array execute requires.
  FftBuffer<float> real(n);
  FftBuffer<Complex> bins(n / 2 + 1);
  auto* r = real.data();
  auto* c = reinterpret_cast<fftwf_complex*>(bins.data());
  Plans p;
  p.forward = fftwf_plan_dft_r2c_1d(int(n), r, c, FFTW_ESTIMATE);
  p.inverse = fftwf_plan_dft_c2r_1d(int(n), c, r, FFTW_ESTIMATE);
  assert(p.forward && p.inverse && "FFTW plans every even size");
  return cache->emplace(n, p).first->second;
}

}  // namespace

template <class T>
FftBuffer<T>::FftBuffer(std::size_t count)
    : data_(static_cast<T*>(fftwf_malloc(sizeof(T) * (count ? count : 1)))), size_(count) {
  if (!data_) throw std::bad_alloc();
  Clear();
}

template <class T>
void FftBuffer<T>::Clear() {
  for (std::size_t i = 0; i < size_; ++i) data_[i] = T{};
}

template <class T>
void FftBuffer<T>::Free::operator()(T* p) const {
  fftwf_free(p);
}

template class FftBuffer<float>;
template class FftBuffer<Complex>;

RealFft::RealFft(std::size_t n) : n_(n) {
  assert(n >= 2 && n % 2 == 0 && "a real FFT needs an even size");
  const Plans& p = PlansFor(n);
  forward_ = p.forward;
  inverse_ = p.inverse;
}

void RealFft::Forward(const FftBuffer<float>& in, FftBuffer<Complex>& out) const {
  assert(in.size() >= n_ && out.size() >= bins());
  fftwf_execute_dft_r2c(forward_, const_cast<float*>(in.data()),
                        reinterpret_cast<fftwf_complex*>(out.data()));
}

void RealFft::Inverse(FftBuffer<Complex>& in, FftBuffer<float>& out) const {
  assert(in.size() >= bins() && out.size() >= n_);
  fftwf_execute_dft_c2r(inverse_, reinterpret_cast<fftwf_complex*>(in.data()), out.data());
}

}  // namespace quillet::audio
