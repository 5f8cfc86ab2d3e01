// Eigen as the smooth rebuild takes it: without its vectorised kernels and
// its threads, so that every build, and the page, sums in the same order.
// The smooth rebuild's sources include Eigen through this header only, and
// before it nothing else may have brought Eigen in without these settings.
#pragma once

#ifdef EIGEN_WORLD_VERSION
#error "Eigen was included before heartline/smooth_eigen.h"
#endif

#define EIGEN_DONT_VECTORIZE
#define EIGEN_DONT_PARALLELIZE
#define EIGEN_MPL2_ONLY

#include <Eigen/SparseCholesky>
#include <Eigen/SparseCore>
