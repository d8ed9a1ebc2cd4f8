-- Test-only fault injection, installed by `db/refdb faults on` and removed by
-- `db/refdb faults off`. Never part of a production procedure set.
--
-- A row of acidkit_fault arms one point: its next `remaining` executions fail
-- with native error `errno` (14032 as SQLSTATE 40001, any other number as
-- SQLSTATE HY000), e.g.
--   INSERT INTO acidkit_fault (point, remaining, errno) VALUES ('getCustAll', 5, 14032);
-- Points are the procedure names and, through the triggers below, the
-- statements 'INSERT ORDERS', 'INSERT NEW_ORDER', 'UPDATE STOCK',
-- 'INSERT ORDER_LINE', 'UPDATE CUSTOMER', 'INSERT HISTORY', 'DELETE NEW_ORDER',
-- 'UPDATE ORDERS' and 'UPDATE ORDER_LINE' (any statement that changes the
-- table, inside a procedure or not). `fired` counts the failures produced.
--
-- The table is MEMORY, not InnoDB: the rollback that follows an injected
-- failure must not give the count back, and every connection sees a change at
-- once.
SET SESSION sql_mode = 'STRICT_TRANS_TABLES,ERROR_FOR_DIVISION_BY_ZERO,NO_AUTO_CREATE_USER,NO_ENGINE_SUBSTITUTION';

CREATE TABLE IF NOT EXISTS acidkit_fault (
  point     VARCHAR(64) NOT NULL PRIMARY KEY,
  remaining INT         NOT NULL,
  errno     INT         NOT NULL DEFAULT 14032,
  fired     INT         NOT NULL DEFAULT 0
) ENGINE=MEMORY;

DELIMITER //

DROP PROCEDURE IF EXISTS acidkit_fault_hit //
CREATE PROCEDURE acidkit_fault_hit(IN p VARCHAR(64)) COMMENT 'acidkit faults'
BEGIN
  DECLARE e INT DEFAULT NULL;
  DECLARE msg VARCHAR(200);
  -- One statement takes the count down, so two connections never both take
  -- the last one.
  UPDATE acidkit_fault SET remaining = remaining - 1, fired = fired + 1
   WHERE point = p AND remaining > 0;
  IF ROW_COUNT() > 0 THEN
    SELECT errno INTO e FROM acidkit_fault WHERE point = p;
    SET msg = CONCAT('acidkit fault injected at ', p, ' (', e, ')');
    IF e = 14032 THEN
      SIGNAL SQLSTATE '40001' SET MYSQL_ERRNO = e, MESSAGE_TEXT = msg;
    ELSE
      SIGNAL SQLSTATE 'HY000' SET MYSQL_ERRNO = e, MESSAGE_TEXT = msg;
    END IF;
  END IF;
END //

DROP TRIGGER IF EXISTS acidkit_fault_ins_orders //
CREATE TRIGGER acidkit_fault_ins_orders BEFORE INSERT ON ORDERS FOR EACH ROW
  CALL acidkit_fault_hit('INSERT ORDERS') //
DROP TRIGGER IF EXISTS acidkit_fault_ins_new_order //
CREATE TRIGGER acidkit_fault_ins_new_order BEFORE INSERT ON NEW_ORDER FOR EACH ROW
  CALL acidkit_fault_hit('INSERT NEW_ORDER') //
DROP TRIGGER IF EXISTS acidkit_fault_upd_stock //
CREATE TRIGGER acidkit_fault_upd_stock BEFORE UPDATE ON STOCK FOR EACH ROW
  CALL acidkit_fault_hit('UPDATE STOCK') //
DROP TRIGGER IF EXISTS acidkit_fault_ins_order_line //
CREATE TRIGGER acidkit_fault_ins_order_line BEFORE INSERT ON ORDER_LINE FOR EACH ROW
  CALL acidkit_fault_hit('INSERT ORDER_LINE') //
DROP TRIGGER IF EXISTS acidkit_fault_upd_customer //
CREATE TRIGGER acidkit_fault_upd_customer BEFORE UPDATE ON CUSTOMER FOR EACH ROW
  CALL acidkit_fault_hit('UPDATE CUSTOMER') //
DROP TRIGGER IF EXISTS acidkit_fault_ins_history //
CREATE TRIGGER acidkit_fault_ins_history BEFORE INSERT ON HISTORY FOR EACH ROW
  CALL acidkit_fault_hit('INSERT HISTORY') //
DROP TRIGGER IF EXISTS acidkit_fault_del_new_order //
CREATE TRIGGER acidkit_fault_del_new_order BEFORE DELETE ON NEW_ORDER FOR EACH ROW
  CALL acidkit_fault_hit('DELETE NEW_ORDER') //
DROP TRIGGER IF EXISTS acidkit_fault_upd_orders //
CREATE TRIGGER acidkit_fault_upd_orders BEFORE UPDATE ON ORDERS FOR EACH ROW
  CALL acidkit_fault_hit('UPDATE ORDERS') //
DROP TRIGGER IF EXISTS acidkit_fault_upd_order_line //
CREATE TRIGGER acidkit_fault_upd_order_line BEFORE UPDATE ON ORDER_LINE FOR EACH ROW
  CALL acidkit_fault_hit('UPDATE ORDER_LINE') //

DELIMITER ;
