import React, { useCallback, useEffect, useRef, useState } from 'react';
import './Dialog.css';

// The page's own questions (unsaved changes, a file changed on disk): a modal box of a title, a text and
// its choices, the first of which has the focus; Escape chooses `escape`, else the last.
function Dialog({ title, text, choices, escape, onChoose }) {
  const first = useRef(null);
  useEffect(() => first.current?.focus(), []);
  return (
    <div className="dialog-backdrop">
      <div
        className="dialog"
        role="dialog"
        aria-modal="true"
        aria-label={title}
        onKeyDown={(event) => {
          if (event.key !== 'Escape') return;
          event.stopPropagation();
          onChoose(escape ?? choices[choices.length - 1].value);
        }}
      >
        <h2>{title}</h2>
        <p>{text}</p>
        <div className="dialog-choices">
          {choices.map((choice, i) => (
            <button
              key={choice.value}
              ref={i === 0 ? first : null}
              data-choice={choice.value}
              onClick={() => onChoose(choice.value)}
            >
              {choice.label}
            </button>
          ))}
        </div>
      </div>
    </div>
  );
}

// `ask({title, text, choices: [{label, value}], escape})` shows the dialog and answers the value chosen; the
// element goes where the dialog is to be drawn.
export default function useDialog() {
  const [question, setQuestion] = useState(null);
  const ask = useCallback((asked) => new Promise((resolve) => setQuestion({ ...asked, resolve })), []);
  const element = question && (
    <Dialog
      {...question}
      onChoose={(value) => {
        setQuestion(null);
        question.resolve(value);
      }}
    />
  );
  return [ask, element];
}
