// The page: the game and the position shown, the controls, and the course of play. After
// every change the position is judged; then the engine plays when it is its turn at the end
// of the game, or else the position is analysed.

import {call, callPlain, keepSession} from "./api.js";
import {BoardView} from "./board_view.js";
import {drawGraph} from "./graph.js";

const $ = id => document.getElementById(id);
const ALL_MOVES = 400;  // the analysis lists every candidate, for the heat map
const TABLE_ROWS = 5;

const game = {rule: "freestyle", width: 15, height: 15, moves: []};
let shown = 0;  // the moves on the board: fewer while stepping back through the game
let version = 0;  // bumped by every change, so that answers to an earlier position are dropped
let result = null, forbidden = [], analysis = null, lineRow = 0;
let rates = [];  // rates[i]: Black's win rate after i moves, from the engine's searches and analyses

const view = new BoardView($("board"), playAt);

const colourToMove = () => (shown % 2 ? "white" : "black");
const name = colour => colour[0].toUpperCase() + colour.slice(1);
const position = () => ({...game, moves: game.moves.slice(0, shown)});
const enginePlays = () => $(colourToMove()).value === "engine" && shown === game.moves.length;
const blackRate = win => (colourToMove() === "black" ? win : 1 - win);
const percent = rate => (rate === null ? "–" : `${Math.round(rate * 100)}%`);

function say(text, refused = false) {
  $("status").textContent = text;
  $("status").classList.toggle("refused", refused);
}

function render() {
  const row = analysis && analysis.moves[lineRow];
  view.draw({width: game.width, height: game.height, stones: game.moves.slice(0, shown), analysis,
             heat: $("heat").value, line: row && row.visits ? row.pv : [],
             forbidden: colourToMove() === "black" ? forbidden : [], result});
  drawGraph($("graph"), rates, game.moves.length, shown);
  $("move-number").textContent = `${shown} / ${game.moves.length}`;
  const body = $("top-moves").tBodies[0];
  body.replaceChildren();
  (analysis ? analysis.moves.slice(0, TABLE_ROWS) : []).forEach((move, i) => {
    const tr = body.insertRow();
    for (const text of [move.move.join(","), percent(move.win), percent(move.draw), move.visits, percent(move.prior)]) {
      tr.insertCell().textContent = text;
    }
    tr.classList.toggle("chosen", i === lineRow);
    tr.onmouseenter = () => i !== lineRow && ((lineRow = i), render());
  });
}

// What follows any change of the game or of the position shown; `study` analyses the
// position even when each position is not to be.
async function changed(study = false) {
  const mine = ++version;
  result = null;
  analysis = null;
  forbidden = [];
  render();
  try {
    const judged = await call("/api/position", {game: position()});
    if (mine !== version) return;
    ({result, forbidden} = judged);
    render();
    if (result) return say(result.winner === "draw" ? "Draw: the board is full" : `${name(result.winner)} wins`);
    if (enginePlays()) return await enginePlay(mine);
    say(`${name(colourToMove())} to play`);
    if ($("analyse").checked || study) await analyse(mine);
  } catch (error) {
    if (mine === version) say(error.message, true);
  }
}

async function enginePlay(mine) {
  say(`The engine plays ${name(colourToMove())}…`);
  const reply = await call("/api/move", {game: position(), time_ms: Number($("move-time").value)});
  if (mine !== version) return;
  if (reply.win !== null) rates[shown] = blackRate(reply.win);
  game.moves.push(reply.move);
  shown = game.moves.length;
  changed();
}

async function analyse(mine) {
  say(`${name(colourToMove())} to play: analysing…`);
  const asked = performance.now();
  const reply = await call("/api/analyze",
                           {game: position(), time_ms: Number($("analysis-time").value), count: ALL_MOVES});
  if (mine !== version) return;
  analysis = reply;
  rates[shown] = blackRate(reply.win);
  lineRow = 0;
  render();
  // On screen once the next frame is painted.
  await new Promise(resolve => requestAnimationFrame(() => setTimeout(resolve, 0)));
  const seconds = (performance.now() - asked) / 1000;
  document.body.dataset.analysisSeconds = seconds.toFixed(3);
  say(`${name(colourToMove())} to play: ${reply.visits} visits, shown ${seconds.toFixed(2)} s after asking`);
}

// Keeps the first `count` moves, then plays on from there.
function cut(count) {
  game.moves.length = shown = count;
  rates.length = Math.min(rates.length, count + 1);
}

function playAt(x, y) {
  const refuse = reason => say(`${x},${y} refused: ${reason}`, true);
  if (result) return refuse("the game is over");
  if (enginePlays()) return refuse("the engine is to play");
  if (game.moves.slice(0, shown).some(([a, b]) => a === x && b === y)) return refuse("the point is taken");
  if (colourToMove() === "black" && forbidden.some(([a, b]) => a === x && b === y)) {
    return refuse("a forbidden point for Black");
  }
  cut(shown);
  game.moves.push([x, y]);
  shown += 1;
  changed();
}

function show(count, study = false) {
  shown = Math.max(0, Math.min(game.moves.length, count));
  return changed(study);
}

// Every position of the game analysed in turn, for the win rate graph, until the person
// does something else.
async function analyseGame() {
  rates = [];
  for (let count = 0; count <= game.moves.length; ++count) {
    const before = version;
    await show(count, true);
    if (version !== before + 1) return;
  }
  say(`${game.moves.length + 1} positions analysed; ${$("status").textContent}`);
}

// The last move goes, and the engine's before it when a person is to play then.
function takeBack() {
  if (!shown) return;
  cut(shown - 1);
  if (shown && enginePlays() && $(colourToMove() === "black" ? "white" : "black").value === "person") cut(shown - 1);
  changed();
}

function newGame(settings) {
  Object.assign(game, settings);
  for (const key of ["rule", "width", "height"]) $(key).value = game[key];
  shown = game.moves.length;
  rates = [];
  changed();
}

function side(id) {
  const value = Number($(id).value);
  if (!Number.isInteger(value) || value < 5 || value > 20) throw new Error(`${id} must be 5 to 20`);
  return value;
}

async function load(file) {
  try {
    const reply = await callPlain("/api/load", {text: await file.text(), rule: $("rule").value,
                                                width: side("width"), height: side("height")});
    // A loaded game is for study: nobody plays on until a player is chosen.
    $("black").value = $("white").value = "person";
    newGame(reply.game);
  } catch (error) {
    say(`${file.name} not loaded: ${error.message}`, true);
  }
}

async function save(format) {
  try {
    const {text} = await callPlain("/api/save", {game, format});
    const link = document.createElement("a");
    link.href = URL.createObjectURL(new Blob([text], {type: "text/plain"}));
    link.download = format === "sgf" ? "game.sgf" : "game.txt";
    link.click();
    URL.revokeObjectURL(link.href);
  } catch (error) {
    say(`not saved: ${error.message}`, true);
  }
}

$("new-game").onclick = () => {
  try {
    newGame({rule: $("rule").value, width: side("width"), height: side("height"), moves: []});
  } catch (error) {
    say(error.message, true);
  }
};
$("black").onchange = $("white").onchange = () => changed();
$("first").onclick = () => show(0);
$("back").onclick = () => show(shown - 1);
$("forward").onclick = () => show(shown + 1);
$("last").onclick = () => show(game.moves.length);
$("take-back").onclick = takeBack;
$("analyse").onchange = () => changed();
$("analyse-game").onclick = analyseGame;
$("analyse-now").onclick = () => !result && analyse(++version).catch(error => say(error.message, true));
$("heat").onchange = render;
$("load").onchange = async event => {
  if (event.target.files.length) await load(event.target.files[0]);
  event.target.value = "";  // the same file can be loaded again
};
$("save-sgf").onclick = () => save("sgf");
$("save-moves").onclick = () => save("moves");

keepSession(5);
changed();
