// The board in SVG: lines and coordinates, the stones, and the analysis over them (heat map,
// the top moves' win rates, a line of numbered stones, Renju's forbidden points).

import {add} from "./svg.js";

const CELL = 32;
const MARGIN = 30;
const TOP_MOVES = 5;
const LINE_STONES = 12;
const MOST_SCALE = 1.6;

const at = i => MARGIN + i * CELL;
const percent = rate => Math.round(rate * 100);

export class BoardView {
  constructor(svg, onCell) {
    this.svg = svg;
    this.width = this.height = 0;
    svg.addEventListener("click", event => {
      const box = svg.getBoundingClientRect();
      const scale = (MARGIN * 2 + (this.width - 1) * CELL) / box.width;
      const x = Math.round(((event.clientX - box.left) * scale - MARGIN) / CELL);
      const y = Math.round(((event.clientY - box.top) * scale - MARGIN) / CELL);
      if (x >= 0 && y >= 0 && x < this.width && y < this.height) onCell(x, y);
    });
  }

  // view: width, height, stones ([x, y], Black's first), analysis (or null), heat ("visits"
  // or "prior"), line (the moves whose numbered stones are drawn), forbidden, result.
  draw(view) {
    const {width, height, stones} = view;
    this.width = width;
    this.height = height;
    const svg = this.svg;
    svg.replaceChildren();
    const viewWidth = MARGIN * 2 + (width - 1) * CELL;
    svg.setAttribute("viewBox", `0 0 ${viewWidth} ${MARGIN * 2 + (height - 1) * CELL}`);
    svg.style.maxWidth = `${viewWidth * MOST_SCALE}px`;  // a small board is not blown up
    add(svg, "rect", {class: "wood", width: "100%", height: "100%"});
    for (let x = 0; x < width; ++x) {
      add(svg, "line", {class: "grid", x1: at(x), y1: at(0), x2: at(x), y2: at(height - 1)});
      add(svg, "text", {class: "coordinate", x: at(x), y: MARGIN / 2}, x);
    }
    for (let y = 0; y < height; ++y) {
      add(svg, "line", {class: "grid", x1: at(0), y1: at(y), x2: at(width - 1), y2: at(y)});
      add(svg, "text", {class: "coordinate", x: MARGIN / 2, y: at(y)}, y);
    }
    const line = view.line.slice(0, LINE_STONES);
    if (view.analysis) this.drawAnalysis(view.analysis, view.heat, line);
    for (const [x, y] of view.forbidden) {
      const d = CELL * 0.22;
      add(svg, "path", {class: "forbidden", d: `M${at(x) - d},${at(y) - d}L${at(x) + d},${at(y) + d}` +
                                                 `M${at(x) + d},${at(y) - d}L${at(x) - d},${at(y) + d}`});
    }
    stones.forEach(([x, y], i) => {
      add(svg, "circle", {class: `stone ${i % 2 ? "white" : "black"}`, cx: at(x), cy: at(y), r: CELL * 0.45});
    });
    if (stones.length) {
      const [x, y] = stones[stones.length - 1];
      add(svg, "circle", {class: "last-move", cx: at(x), cy: at(y), r: CELL * 0.1});
    }
    line.forEach(([x, y], i) => {
      const colour = (stones.length + i) % 2 ? "white" : "black";
      add(svg, "circle", {class: `line-stone ${colour}`, cx: at(x), cy: at(y), r: CELL * 0.45});
      add(svg, "text", {class: `line-number ${colour}`, x: at(x), y: at(y)}, i + 1);
    });
    if (view.result && view.result.line) {
      const [[x0, y0], [x1, y1]] = view.result.line;
      add(svg, "line", {class: "win-line", x1: at(x0), y1: at(y0), x2: at(x1), y2: at(y1)});
    }
  }

  // A square per candidate, the stronger the more visits (or prior) it has, and the win rate
  // of the most visited moves where no stone of the line covers them.
  drawAnalysis(analysis, heat, line) {
    const most = Math.max(...analysis.moves.map(move => move[heat]));
    for (const move of analysis.moves) {
      const share = most > 0 ? move[heat] / most : 0;
      if (share <= 0) continue;
      const [x, y] = move.move;
      add(this.svg, "rect", {class: "heat", x: at(x) - CELL / 2, y: at(y) - CELL / 2, width: CELL, height: CELL,
                             "fill-opacity": (0.08 + 0.7 * share).toFixed(3)});
    }
    analysis.moves.filter(move => move.win !== null).slice(0, TOP_MOVES).forEach((move, rank) => {
      const [x, y] = move.move;
      if (line.some(([a, b]) => a === x && b === y)) return;
      add(this.svg, "text", {class: rank ? "top-move" : "top-move best", x: at(x), y: at(y)}, percent(move.win));
    });
  }
}
