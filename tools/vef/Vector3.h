// Three-component vector helpers shared by the tools that build scenes (the
// generator works in float, the converter in double). A vector is a
// std::array<T, 3>; every helper computes in T, component by component, in
// the order written, so results are the same on every build.
#ifndef VEF_VECTOR3_H
#define VEF_VECTOR3_H

#include <array>
#include <cmath>

namespace vef {

template <typename T>
using Vector3 = std::array<T, 3>;

template <typename T>
Vector3<T> Add(const Vector3<T>& a, const Vector3<T>& b) {
  return {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
}
template <typename T>
Vector3<T> Sub(const Vector3<T>& a, const Vector3<T>& b) {
  return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
template <typename T>
Vector3<T> Mul(const Vector3<T>& a, typename Vector3<T>::value_type k) {
  return {a[0] * k, a[1] * k, a[2] * k};
}
// a0 b0 + a1 b1 + a2 b2, summed left to right.
template <typename T>
T Dot(const Vector3<T>& a, const Vector3<T>& b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
template <typename T>
Vector3<T> Cross(const Vector3<T>& a, const Vector3<T>& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
template <typename T>
T Len(const Vector3<T>& a) {
  return std::sqrt(Dot(a, a));
}
// a * (1 / |a|); the zero vector stays zero.
template <typename T>
Vector3<T> Norm(const Vector3<T>& a) {
  const T l = Len(a);
  return l > 0 ? Mul(a, T(1) / l) : a;
}

// The same as operators, for code that reads better with them (bring them in
// with `using vef::operator+;` and so on).
template <typename T>
Vector3<T> operator+(const Vector3<T>& a, const Vector3<T>& b) {
  return Add(a, b);
}
template <typename T>
Vector3<T> operator-(const Vector3<T>& a, const Vector3<T>& b) {
  return Sub(a, b);
}
template <typename T>
Vector3<T> operator*(const Vector3<T>& a, typename Vector3<T>::value_type k) {
  return Mul(a, k);
}

}  // namespace vef

#endif
