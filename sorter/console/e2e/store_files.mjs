// E-mail files for the end-to-end test, written in the record encoding of the store: counted
// texts (2-byte length, then Windows-1252 bytes), list headers (2-byte dimension count, 4-byte
// element count, 4-byte lower bound), little-endian numbers.

class Writer {
  constructor() { this.parts = []; }
  bytes(b) { this.parts.push(Buffer.from(b)); return this; }
  u8(v) { const b = Buffer.alloc(1); b.writeUInt8(v); return this.bytes(b); }
  i16(v) { const b = Buffer.alloc(2); b.writeInt16LE(v); return this.bytes(b); }
  i32(v) { const b = Buffer.alloc(4); b.writeInt32LE(v); return this.bytes(b); }
  u32(v) { const b = Buffer.alloc(4); b.writeUInt32LE(v); return this.bytes(b); }
  f64(v) { const b = Buffer.alloc(8); b.writeDoubleLE(v); return this.bytes(b); }
  text(s) { const b = Buffer.from(s, 'latin1'); return this.i16(b.length).bytes(b); }
  list(items, each) {
    this.i16(1).u32(items.length).i32(0);
    for (const item of items) each(this, item);
    return this;
  }
  done() { return Buffer.concat(this.parts); }
}

function textBox(w, t) {
  w.i32(t.x).i32(t.y).i16(0).i32(t.colour ?? 0);
  w.text(t.font ?? 'Arial').text('0').i16(t.bold ? -1 : 0).i16(t.underline ? -1 : 0)
    .i16(t.italic ? -1 : 0).i16(0).i16(t.size ?? 10).i16(t.bold ? 700 : 400);
  w.text(t.value).i32(t.width ?? 4000).i32(t.height ?? 600);
}

function picture(w, p) {
  w.text(p.name).i32(p.x).i32(p.y).i16(0).u8(p.border ? 1 : 0);
  w.list([...p.bytes], (x, b) => x.u8(b));
}

export function emailBytes({ from, to, cc = '', subject, texts = [], pictures = [], date = 0 }) {
  const w = new Writer().bytes([0, 0, 0]).u8(0).text(to).text(from).text(cc).text(subject);
  w.list(texts, textBox).list(pictures, picture);
  return w.text('').f64(date).done();
}

// A small 24-bit BMP picture: a blue-to-green gradient with a white diagonal.
export function bmpPicture(width = 96, height = 64) {
  const row = Math.ceil((width * 3) / 4) * 4;
  const pixels = Buffer.alloc(row * height);
  for (let y = 0; y < height; y++) {
    for (let x = 0; x < width; x++) {
      const o = y * row + x * 3;
      const white = Math.abs(x - y * 1.5) < 2;
      pixels[o] = white ? 255 : 200 - x;  // blue
      pixels[o + 1] = white ? 255 : 60 + x;  // green
      pixels[o + 2] = white ? 255 : 40;  // red
    }
  }
  const header = Buffer.alloc(54);
  header.write('BM', 0, 'latin1');
  header.writeUInt32LE(54 + pixels.length, 2);
  header.writeUInt32LE(54, 10);
  header.writeUInt32LE(40, 14);
  header.writeInt32LE(width, 18);
  header.writeInt32LE(height, 22);
  header.writeUInt16LE(1, 26);
  header.writeUInt16LE(24, 28);
  header.writeUInt32LE(pixels.length, 34);
  return Buffer.concat([header, pixels]);
}
