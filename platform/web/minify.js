// Shrinks one of the page's scripts for its transfer: no comments or spaces, short local names.
// Names at the top, which the page's scripts and the game share, stay as they are.
// Usage: node minify.js IN OUT (with Debian's terser on NODE_PATH)
const fs = require('fs');
const { minify } = require('terser');

minify(fs.readFileSync(process.argv[2], 'utf8'), { compress: { passes: 2 }, mangle: true, format: { comments: false } })
  .then((out) => fs.writeFileSync(process.argv[3], out.code))
  .catch((error) => {
    console.error(`${process.argv[2]}: ${error.message}`);
    process.exit(1);
  });
