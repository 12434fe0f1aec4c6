#!/usr/bin/env bash
# Installs the build into a temporary prefix, then compiles and runs a program against it with
# `pkg-config mxmodule` alone. Arguments: the build folder, the source of the program, extra compiler flags.
set -euo pipefail
build=$1 source=$2 extra=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
# The installed mxbox runs by itself.
mkdir -p "$work/c"
help=$(env -u LD_LIBRARY_PATH MX_HOME="$work" MX_DRIVES="C:=$work/c" MX_REGISTRY="$work/registry.db" "$work/prefix/bin/mxbox" --help)
[[ $help == *library* ]]
export PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig"
# shellcheck disable=SC2046,SC2086
g++ $extra "$source" $(pkg-config --cflags --libs mxmodule) -o "$work/consumer"
mkdir -p "$work/c"
MX_HOME="$work" MX_DRIVES="C:=$work/c" MX_REGISTRY="$work/registry.db" LD_LIBRARY_PATH="$work/prefix/lib" "$work/consumer"

# The same program through the CMake package.
mkdir -p "$work/cmake-consumer"
cp "$source" "$work/cmake-consumer/consumer.cpp"
cat > "$work/cmake-consumer/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(consumer CXX)
find_package(MxModule REQUIRED)
add_executable(consumer consumer.cpp)
target_compile_options(consumer PRIVATE $extra)
target_link_options(consumer PRIVATE $extra)
target_link_libraries(consumer PRIVATE MxModule::MxModule)
CMAKE
cmake -S "$work/cmake-consumer" -B "$work/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
rm -rf "$work/c" "$work/registry.db"* && mkdir -p "$work/c"
MX_HOME="$work" MX_DRIVES="C:=$work/c" MX_REGISTRY="$work/registry.db" LD_LIBRARY_PATH="$work/prefix/lib" "$work/cmake-build/consumer"
