// Gestures drawn in SVG, in the points of the screen (or page) they were made on: taps as dots,
// double taps as rings, swipes as arrows, pinches as circles (dashed when pinching in).
import {svg} from './console.js';

export const COLOURS = {
  tap: '#e0323c', double_tap: '#ff8c00', swipe: '#13a8e8', pinch: '#a633e6',
  rotation: '#1d1f24', screen: '#2e9e5b', crash: '#c3001a', background: '#8a8f99',
  rage_tap: '#c3001a',
};

const DIRECTIONS = {up: [0, -1], down: [0, 1], left: [-1, 0], right: [1, 0]};

// One gesture's mark at (x, y); `size` scales it (1 on a phone screen).
export function gestureMark(kind, x, y, direction, size = 1, data = {}) {
  const colour = COLOURS[kind] || '#444';
  const g = svg('g', {class: 'mark', dataset: Object.assign({kind, x, y}, data)});
  if (kind === 'tap') {
    g.append(svg('circle', {cx: x, cy: y, r: 11 * size, fill: colour, 'fill-opacity': 0.6,
                            stroke: '#fff', 'stroke-width': 2 * size}));
  } else if (kind === 'double_tap') {
    for (const r of [9, 17]) {
      g.append(svg('circle', {cx: x, cy: y, r: r * size, fill: 'none', stroke: colour,
                              'stroke-width': 3 * size}));
    }
  } else if (kind === 'swipe') {
    const [dx, dy] = DIRECTIONS[direction] || [0, 0];
    const length = 70 * size, head = 14 * size;
    const tx = x + dx * length, ty = y + dy * length;
    g.append(svg('line', {x1: x, y1: y, x2: tx, y2: ty, stroke: colour, 'stroke-width': 4 * size,
                          'stroke-linecap': 'round'}));
    // The head: two points behind the tip, either side of the line.
    const bx = tx - dx * head, by = ty - dy * head;
    g.append(svg('polygon', {fill: colour, points: `${tx},${ty} ${bx - dy * head * 0.6},` +
                             `${by + dx * head * 0.6} ${bx + dy * head * 0.6},${by - dx * head * 0.6}`}));
  } else if (kind === 'pinch') {
    g.append(svg('circle', {cx: x, cy: y, r: 32 * size, fill: 'none', stroke: colour,
                            'stroke-width': 3 * size,
                            'stroke-dasharray': direction === 'in' ? `${7 * size} ${5 * size}` : null}));
  }
  return g;
}
