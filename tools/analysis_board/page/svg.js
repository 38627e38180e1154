// Building SVG drawings.

const SVG = "http://www.w3.org/2000/svg";

// A new element under `parent`, with its attributes and, when given, its text.
export function add(parent, name, attributes, text) {
  const node = document.createElementNS(SVG, name);
  for (const [key, value] of Object.entries(attributes)) node.setAttribute(key, value);
  if (text !== undefined) node.textContent = text;
  parent.appendChild(node);
  return node;
}
