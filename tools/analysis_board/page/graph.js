// Black's win rate over the game: a point per position searched, by move number, with the
// even line and a mark at the position shown.

import {add} from "./svg.js";

const WIDTH = 320, HEIGHT = 130, LEFT = 30, RIGHT = 10, TOP = 10, BOTTOM = 20;

// rates[i]: Black's win rate in the position after i moves (unset where none is known);
// moves: the game's length; shown: the position on the board.
export function drawGraph(svg, rates, moves, shown) {
  svg.replaceChildren();
  const last = Math.max(moves, 10);
  const x = i => LEFT + (i / last) * (WIDTH - LEFT - RIGHT);
  const y = rate => TOP + (1 - rate) * (HEIGHT - TOP - BOTTOM);
  add(svg, "rect", {class: "graph-area", x: LEFT, y: TOP, width: WIDTH - LEFT - RIGHT, height: HEIGHT - TOP - BOTTOM});
  for (const rate of [0, 0.5, 1]) {
    add(svg, "line", {class: rate === 0.5 ? "even" : "axis", x1: LEFT, x2: WIDTH - RIGHT, y1: y(rate), y2: y(rate)});
    add(svg, "text", {class: "graph-label", x: LEFT - 4, y: y(rate)}, `${rate * 100}%`);
  }
  add(svg, "text", {class: "graph-label moves", x: WIDTH - RIGHT, y: HEIGHT - 4}, `move ${moves}`);
  add(svg, "line", {class: "shown", x1: x(shown), x2: x(shown), y1: TOP, y2: HEIGHT - BOTTOM});
  const points = rates.map((rate, i) => [i, rate]).filter(([, rate]) => rate !== undefined);
  add(svg, "polyline", {class: "rate-line", points: points.map(([i, rate]) => `${x(i)},${y(rate)}`).join(" ")});
  for (const [i, rate] of points) add(svg, "circle", {class: "rate-point", cx: x(i), cy: y(rate), r: 2.5});
}
