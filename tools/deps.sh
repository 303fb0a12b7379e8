# Installs the Debian packages named in "$@" that are not installed yet.
# Sourced by tools/play and tools/test.
install_missing() {
  missing=""
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
      missing="$missing $pkg"
  done
  [ -z "$missing" ] && return 0
  echo "Installing:$missing"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
}

# Builds the glyph table natively into build/tools and prints its path: a cross build (the
# browser's, Windows') can't run its own tools.
native_glyph_table() {
  cmake -S . -B build/tools -DQUILLON_TOOLS_ONLY=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build/tools -j "$(nproc)" >/dev/null
  echo "$(pwd)/build/tools/generated/Glyphs.inc"
}

BUILD_PACKAGES="cmake g++ make pkg-config libsdl2-dev libx11-dev libfreetype-dev fonts-dejavu-core libcpp-httplib-dev nlohmann-json3-dev libsqlite3-dev libpq-dev"
TEST_PACKAGES="libgtest-dev libbenchmark-dev python3 ninja-build lld xvfb xdotool x11-apps x11-xserver-utils openbox weston faketime libdecor-0-plugin-1-cairo dpkg-dev lintian desktop-file-utils appstream appstream-util postgresql"
WEB_PACKAGES="cmake g++ make pkg-config libfreetype-dev fonts-dejavu-core emscripten node-acorn node-terser"
WEB_TEST_PACKAGES="chromium"
WINDOWS_PACKAGES="cmake g++ make pkg-config libfreetype-dev fonts-dejavu-core g++-mingw-w64-x86-64-posix libgtest-dev nsis"
WINDOWS_TEST_PACKAGES="wine64"
